#include "region-mirror/mirror_arguments.h"

#include <locale.h>

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace framewell {
namespace {

struct Decimal {
    bool negative = false;
    std::uint64_t magnitude = 0;
};

// Sign and digits, with the magnitude at most `limit`.
std::optional<Decimal> parseDecimal(const std::string& text, std::uint64_t limit) {
    Decimal d;
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) d.negative = text[i++] == '-';
    if (i == text.size()) return std::nullopt;
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (c < '0' || c > '9') return std::nullopt;
        std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
        if (d.magnitude > (limit - digit) / 10) return std::nullopt;
        d.magnitude = d.magnitude * 10 + digit;
    }
    return d;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

std::optional<std::uint32_t> parseUnsigned32(const std::string& text) {
    auto d = parseDecimal(text, std::numeric_limits<std::uint32_t>::max());
    if (!d || (d->negative && d->magnitude != 0)) return std::nullopt;
    return static_cast<std::uint32_t>(d->magnitude);
}

std::optional<std::int64_t> parseSigned64(const std::string& text) {
    constexpr std::uint64_t maxPositive =
        static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    auto d = parseDecimal(text, maxPositive + 1);
    if (!d || (!d->negative && d->magnitude > maxPositive)) return std::nullopt;
    if (d->negative) return static_cast<std::int64_t>(0 - d->magnitude);  // two's complement, -2^63 included
    return static_cast<std::int64_t>(d->magnitude);
}

std::optional<double> parseNumber(const std::string& text) {
    if (text.empty() || isBlank(text.front()) || isBlank(text.back())) return std::nullopt;
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    if (!cLocale) return std::nullopt;
    char* end = nullptr;
    double value = strtod_l(text.c_str(), &end, cLocale);
    if (end != text.c_str() + text.size()) return std::nullopt;
    return value;
}

bool hasEnoughArguments(int argc) {
    return argc >= 6;
}

MirrorArguments parseMirrorArguments(const std::vector<std::string>& args) {
    auto word = [&](std::size_t i) -> std::optional<std::string> {
        if (i < args.size()) return args[i];
        return std::nullopt;
    };
    auto number = [&](std::size_t i) { return word(i) ? parseNumber(*word(i)).value_or(0) : 0.0; };

    MirrorArguments a;
    a.displayId = word(0) ? parseUnsigned32(*word(0)).value_or(0) : 0;
    a.cropX = number(1);
    a.cropY = number(2);
    a.cropW = number(3);
    a.cropH = number(4);
    a.cropRect = platform::CGRect{a.cropX, a.cropY, a.cropW, a.cropH};
    if (auto w = word(5) ? parseUnsigned32(*word(5)) : std::nullopt; w && *w != 0) a.excludeWindowId = *w;
    std::int64_t fps = word(6) ? parseSigned64(*word(6)).value_or(kDefaultFps) : kDefaultFps;
    a.fps = std::clamp(fps, kMinimumFps, kMaximumFps);
    return a;
}

bool hasValidCropSize(const MirrorArguments& a) {
    return a.cropW >= 1.0 && a.cropH >= 1.0;
}

}  // namespace framewell
