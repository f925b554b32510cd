// framewell's command line: displayId x y width height [excludeWindowId] [fps].
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/geometry.h"

namespace framewell {

inline constexpr const char* kUsageMessage =
    "usage: framewell displayId x y width height [excludeWindowId] [fps]\n";
inline constexpr const char* kInvalidCropMessage = "invalid crop rect\n";
inline constexpr const char* kRequiresMacOs14Message = "framewell requires macOS 14+ ScreenCaptureKit\n";

inline constexpr std::int64_t kDefaultFps = 30;
inline constexpr std::int64_t kMinimumFps = 1;
inline constexpr std::int64_t kMaximumFps = 60;

// An optional "+" or "-" and at least one decimal digit, nothing else; in range. A negative value is
// refused for the unsigned kind, except minus zero, which reads as 0.
std::optional<std::uint32_t> parseUnsigned32(const std::string& text);
std::optional<std::int64_t> parseSigned64(const std::string& text);
// The whole text by the C-locale strtod syntax (decimal or hexadecimal, exponent, "inf", "nan"); not
// empty and without white space before or after.
std::optional<double> parseNumber(const std::string& text);

struct MirrorArguments {
    std::uint32_t displayId = 0;
    double cropX = 0;
    double cropY = 0;
    double cropW = 0;
    double cropH = 0;
    platform::CGRect cropRect;
    std::optional<std::uint32_t> excludeWindowId;  // never 0
    std::int64_t fps = kDefaultFps;                // within 1..60
};

// True when there are enough words: the program name and at least five arguments.
bool hasEnoughArguments(int argc);
// Reads the words after the program name (at least five); unreadable values take their defaults.
MirrorArguments parseMirrorArguments(const std::vector<std::string>& args);
// Width and height are both at least 1 (a NaN is not).
bool hasValidCropSize(const MirrorArguments& arguments);

}  // namespace framewell
