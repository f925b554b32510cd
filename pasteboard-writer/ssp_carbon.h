// The writer's Carbon layer: plain functions over the Carbon-style pasteboard that put the Finder's
// flavors, answering integer statuses. 0 is success; a negative code of this layer (below) or a status
// of the pasteboard passed through unchanged. A put that finds its flavor already there
// (duplicatePasteboardFlavorErr, -25134) counts as success everywhere.
//
// File items are numbered from 1 in path order; when the environment variable SSP_CF_ITEM_ID_ZERO
// holds exactly "1" they are numbered from 0, so that the first file shares item 0 with the board-level
// markers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/carbon_pasteboard.h"
#include "platform/value.h"

// Statuses of ssp_attach_finder_board_metadata_only.
inline constexpr std::int32_t SSP_ATTACH_OPEN_FAILED = -1;          // the pasteboard cannot be opened
inline constexpr std::int32_t SSP_ATTACH_NODEREF_DATA_FAILED = -2;  // the noderef data cannot be made
inline constexpr std::int32_t SSP_ATTACH_FNDF_DATA_FAILED = -3;     // the fndf data cannot be made

// Statuses of ssp_write_finder_file_copy.
inline constexpr std::int32_t SSP_COPY_NO_PATHS = -1;             // no path array, or fewer than one path
inline constexpr std::int32_t SSP_COPY_OPEN_FAILED = -2;          // the pasteboard cannot be opened
inline constexpr std::int32_t SSP_COPY_NAME_LIST_FAILED = -3;     // the list of names cannot be made
inline constexpr std::int32_t SSP_COPY_FILE_URL_FAILED = -4;      // a path gives no file URL string
inline constexpr std::int32_t SSP_COPY_UTF8_FAILED = -5;          // a file URL string gives no UTF-8
inline constexpr std::int32_t SSP_COPY_NODEREF_DATA_FAILED = -6;  // the noderef data cannot be made
inline constexpr std::int32_t SSP_COPY_FNDF_DATA_FAILED = -7;     // the fndf data cannot be made

inline constexpr const char* SSP_CF_ITEM_ID_ZERO = "SSP_CF_ITEM_ID_ZERO";

// Puts the Finder's board-level markers, "com.apple.finder.noderef" (one byte 01) and "fndf" (no bytes),
// on item 0 of the general pasteboard, beside whatever is there; the pasteboard is not cleared.
std::int32_t ssp_attach_finder_board_metadata_only();

// Clears the general pasteboard and writes a Finder file copy of `count` zero-terminated UTF-8 paths:
// the board-level markers, one "public.file-url" per path (the path resolved, or its own text when it
// does not resolve), and on the first file's item the names joined by carriage returns as
// "public.utf8-plain-text" and "NSStringPboardType", and as UTF-16 under
// "public.utf16-external-plain-text". A failing file-URL put stops the copy at once with its status.
std::int32_t ssp_write_finder_file_copy(const char* const* paths, std::int32_t count);

// The item number of the file at `position` (counted from 0), after SSP_CF_ITEM_ID_ZERO.
platform::PasteboardItemID ssp_item_id_for_index_env(std::int32_t position);

// FF FE, then each name's UTF-16 code units with 000D between two names, every unit low byte first.
// Nothing when a name is not valid UTF-8 or memory runs out.
std::optional<platform::Bytes> ssp_utf16_filename_list_data(const std::vector<std::string>& names);

// Appends the UTF-16 code units of `text` to `out`, low byte first (surrogate pairs for characters
// beyond U+FFFF). False, with `out` unchanged, when `text` is not valid UTF-8.
bool ssp_append_utf16le(std::string_view text, platform::Bytes& out);
