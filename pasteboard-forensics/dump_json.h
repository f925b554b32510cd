// The JSON form of the snapshot: optional fields without a value left out; key order is the writer's
// (clipsift prints with sorted keys).
#pragma once

#include "pasteboard-forensics/records.h"
#include "shared/json_line.h"

namespace forensics {

shared::Json toJson(const PasteboardForensicsDump& dump);

// The time as the snapshot writes it: YYYY-MM-DDTHH:MM:SSZ in UTC.
std::string isoTimestampUtc(std::int64_t secondsSinceEpoch);

}  // namespace forensics
