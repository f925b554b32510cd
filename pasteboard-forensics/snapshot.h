// The representation reads of the snapshot: every board-level type, then every item's types, each read
// once per scope and turned into its two records.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "pasteboard-forensics/records.h"
#include "pasteboard-forensics/representation.h"
#include "platform/pasteboard.h"

namespace forensics {

// What the reads gather across the board and all items.
struct Gathered {
    bool hasPromisedTypes = false;
    std::vector<std::string> filePromiseTypes;  // distinct, unsorted
    std::vector<RepresentationIdentity> identities;
    DigestCache digests;

    // Notes a promised type name; answers whether the name is one.
    bool notePromised(const std::string& type);
};

// One `RepresentationForensics` per board type (in the given order), with its identity gathered.
std::vector<RepresentationForensics> readBoardRepresentations(const std::vector<std::string>& boardTypes,
                                                              platform::Pasteboard& pasteboard,
                                                              Gathered& gathered);

// The item at `index`: its sorted types, representations (sorted by type), file URL preview and file
// names, with its identities gathered.
ItemForensics readItem(std::size_t index, const platform::PasteboardItem& item,
                       platform::Pasteboard& pasteboard, Gathered& gathered);

}  // namespace forensics
