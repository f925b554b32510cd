// The Carbon-style pasteboard service, shaped after the Pasteboard Manager: an opaque reference opened
// by name, items addressed by identifier (0 is the board level), flavors put and copied as bytes, and
// integer statuses. It works on the same pasteboard as platform/pasteboard.h.
//
// Every reference that PasteboardCreate hands out must be given back with PasteboardRelease (or held
// in a ScopedPasteboard). Reads answer from the state seen at the last PasteboardSynchronize (or at
// PasteboardCreate), and see this reference's own puts and clears at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/value.h"

namespace platform {

using OSStatus = std::int32_t;
// An item identifier as an unsigned 64-bit number; 0 names the board level.
using PasteboardItemID = std::uint64_t;
using PasteboardFlavorFlags = std::uint32_t;
using ItemCount = std::size_t;
using CFIndex = std::int64_t;

struct OpaquePasteboardRef;
using PasteboardRef = OpaquePasteboardRef*;

// The name of the general pasteboard, the one the AppKit-style pasteboard writes.
inline constexpr const char* kPasteboardClipboard = "Apple CFPasteboard general";

inline constexpr PasteboardFlavorFlags kPasteboardFlavorNoFlags = 0;

// PasteboardSynchronize's answer.
using PasteboardSyncFlags = std::uint32_t;
inline constexpr PasteboardSyncFlags kPasteboardModified = 1u << 0;       // changed since the last sync
inline constexpr PasteboardSyncFlags kPasteboardClientIsOwner = 1u << 1;  // this reference cleared it last

// Statuses.
inline constexpr OSStatus noErr = 0;
inline constexpr OSStatus paramErr = -50;                         // a missing argument or unknown name
inline constexpr OSStatus coreFoundationUnknownErr = -4960;       // the pasteboard could not be opened
inline constexpr OSStatus badPasteboardSyncErr = -25130;          // the store did not take the change
inline constexpr OSStatus badPasteboardIndexErr = -25131;         // item index out of range
inline constexpr OSStatus badPasteboardItemErr = -25132;          // unknown item identifier
inline constexpr OSStatus badPasteboardFlavorErr = -25133;        // the item has no such flavor
inline constexpr OSStatus duplicatePasteboardFlavorErr = -25134;  // the flavor is already there

// Opens the pasteboard named `name` (only kPasteboardClipboard exists; any other name, or none, answers
// paramErr). On success *outPasteboard is a new reference; on failure it is nullptr.
OSStatus PasteboardCreate(const char* name, PasteboardRef* outPasteboard);
// Gives back a reference from PasteboardCreate; nullptr is ignored.
void PasteboardRelease(PasteboardRef pasteboard);

// Takes the pasteboard's current state for the reads that follow.
PasteboardSyncFlags PasteboardSynchronize(PasteboardRef pasteboard);
// Empties items and board-level flavors; the change count advances.
OSStatus PasteboardClear(PasteboardRef pasteboard);

OSStatus PasteboardGetItemCount(PasteboardRef pasteboard, ItemCount* outCount);
// `index` counts from 1.
OSStatus PasteboardGetItemIdentifier(PasteboardRef pasteboard, CFIndex index, PasteboardItemID* outItem);
// The item's flavor types in order; item 0 lists the board-level flavors.
OSStatus PasteboardCopyItemFlavors(PasteboardRef pasteboard, PasteboardItemID item,
                                   std::vector<std::string>* outFlavorTypes);
// The flavor's bytes as the item's dataForType gives them; item 0 reads the board-level flavor.
// badPasteboardItemErr for an unknown item, badPasteboardFlavorErr for a missing (or unreadable) flavor.
OSStatus PasteboardCopyItemFlavorData(PasteboardRef pasteboard, PasteboardItemID item, const char* flavorType,
                                      SharedBytes* outData);
// Puts bytes under a flavor: item 0 is the board level; an unknown identifier makes that item at the
// end. A flavor the item already has answers duplicatePasteboardFlavorErr and changes nothing. Each
// successful put advances the change count.
OSStatus PasteboardPutItemFlavor(PasteboardRef pasteboard, PasteboardItemID item, const char* flavorType,
                                 const Bytes& data, PasteboardFlavorFlags flags);

struct PasteboardReleaser {
    void operator()(PasteboardRef pasteboard) const { PasteboardRelease(pasteboard); }
};
// A reference that is released when it goes out of scope.
using ScopedPasteboard = std::unique_ptr<OpaquePasteboardRef, PasteboardReleaser>;

}  // namespace platform
