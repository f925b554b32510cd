// Property-list serialisation (XML 1.0 and binary forms) over libplist.
#pragma once

#include <optional>
#include <string>

#include "platform/value.h"

namespace platform {

// The deepest nesting of arrays and dictionaries a property list may have (a value that is no container
// is at depth 1). Deeper values are not property lists.
inline constexpr int kMaxPropertyListDepth = 512;

// Whether a property list can hold the date: dates are kept as whole seconds since 2001 in a signed
// 32-bit number (1932-12-13T20:45:52Z to 2069-01-19T03:14:07Z) and microseconds.
bool dateRepresentable(Date date);

// XML property-list bytes of a value, or nothing when the value has no property-list form: it holds null,
// a zero character in a string or a key, a date that cannot be represented, or nests too deep.
std::optional<Bytes> propertyListXml(const Value& value);
std::optional<Bytes> propertyListBinary(const Value& value);

// Parses XML or binary property-list bytes. A zero character in a string or a key (which the library
// would cut or assert on), a date that cannot be represented, nesting deeper than
// kMaxPropertyListDepth, a cycle or an object graph that expands too far make the bytes not a property
// list.
std::optional<Value> parsePropertyList(const Bytes& bytes);

}  // namespace platform
