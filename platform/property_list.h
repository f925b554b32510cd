// Property-list serialisation (XML 1.0 and binary forms) over libplist.
#pragma once

#include <optional>
#include <string>

#include "platform/value.h"

namespace platform {

// XML property-list bytes of a value, or nothing when the value holds null (no plist form).
std::optional<Bytes> propertyListXml(const Value& value);
std::optional<Bytes> propertyListBinary(const Value& value);

// Parses XML or binary property-list bytes.
std::optional<Value> parsePropertyList(const Bytes& bytes);

}  // namespace platform
