// The rows flavorscan prints: one JSON object per Carbon flavor, written by hand in a fixed key order.
#pragma once

#include <array>
#include <cstdio>
#include <string_view>

#include "platform/carbon_pasteboard.h"

namespace flavorscan {

// The flavors asked for without naming an item, in this order.
inline constexpr std::array<const char*, 4> boardOnlyTypes = {
    "com.apple.finder.noderef",
    "fndf",
    "NSFilenamesPboardType",
    "public.file-url",
};

// Flavor names are converted into a buffer of this many bytes, terminator included.
inline constexpr std::size_t flavorNameBufferBytes = 512;
// Flavors of 1 to this many bytes get all their bytes as `hexPrefix`.
inline constexpr std::size_t maxHexBytes = 32;

// A name that converts to UTF-8 within the name buffer; other flavors get no row.
bool nameFitsBuffer(std::string_view name);

// Writes a JSON string: quotation mark and reverse solidus escaped with a reverse solidus, control
// characters in the \u form, every other byte unchanged.
void writeJsonString(std::FILE* out, std::string_view text);

// Writes one row (preceded by a comma unless `firstRow`) and clears `firstRow`. `data` is the flavor's
// data when the manager gave any. A flavor read with at least one byte also gets `sha256`, the digest
// of all its data, as the row's last key.
void printFlavorRow(std::FILE* out, bool& firstRow, std::string_view itemId, std::string_view flavor,
                    platform::OSStatus status, const platform::Bytes* data);

}  // namespace flavorscan
