// The Carbon view of the pasteboard, as the probe flavorscan (installed beside clipsift) lists it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pasteboard-forensics/records.h"

namespace forensics {

inline constexpr const char* probeName = "flavorscan";

// One element of the probe's array, decoded with strict types.
struct ProbeRow {
    std::string pasteboardItemId;
    std::string type;
    std::optional<std::int64_t> byteCount;
    std::optional<bool> readable;
    std::optional<std::string> hexPrefix;
    std::optional<std::int64_t> readStatus;
    std::optional<std::string> sha256;  // the digest of the whole flavor data
};

// The probe's path: the folder of `argv0` (taken from the working folder when relative, links not
// resolved, no search path) joined with "flavorscan". Nothing for an empty `argv0`.
std::optional<std::string> probePathBeside(const std::string& argv0);

// The probe's standard output as a JSON array of rows (white space around it allowed); nothing when
// it is not one, when a row lacks `pasteboardItemId` or `type`, or when any value has the wrong type.
std::optional<std::vector<ProbeRow>> decodeProbeRows(std::string_view output);

// The row for the dump. Its `sha256` is the probe's digest when the row has one (64 lower-case hex
// digits); otherwise the digest of
// the bytes `hexPrefix` spells when they are all `byteCount` bytes, "" when they are not (or when the row
// has neither bytes nor a count).
CarbonFlavorRow carbonFlavorRow(const ProbeRow& row);

// The probe's path: beside the running executable as the system reports it (links resolved, however
// it was started), or `probePathBeside(argv0)` when the system does not tell.
std::optional<std::string> probePath(const std::string& argv0);

// Runs the probe at `probePath(argv0)` and converts its rows; the empty list when the probe is missing
// or not executable, cannot be started, exits with a status other than 0 or prints anything but rows.
std::vector<CarbonFlavorRow> carbonFlavorRowsFromProbe(const std::string& argv0);

}  // namespace forensics
