// The sandbox's Carbon-style pasteboard: the Carbon view of the one board in pasteboard.db.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/carbon_pasteboard.h"
#include "platform/sandbox/store.h"

namespace platform::sandbox {

// One open reference. Reads answer from a snapshot taken at open and at each synchronize, and taken
// anew after every put or clear made through this reference.
class CarbonPasteboard final : public CarbonPasteboardSession {
  public:
    // Opens the general pasteboard; fails with a status when the desktop's "carbonOpenFails" fault is
    // set or the store cannot be opened.
    static OSStatus create(const char* name, std::unique_ptr<CarbonPasteboardSession>* out);

    PasteboardSyncFlags synchronize() override;
    OSStatus clear() override;
    OSStatus getItemCount(ItemCount* outCount) override;
    OSStatus getItemIdentifier(CFIndex index, PasteboardItemID* outItem) override;
    OSStatus copyItemFlavors(PasteboardItemID item, std::vector<std::string>* outFlavorTypes) override;
    OSStatus copyItemFlavorData(PasteboardItemID item, const char* flavorType, SharedBytes* outData) override;
    OSStatus putItemFlavor(PasteboardItemID item, const char* flavorType, const Bytes& data,
                           PasteboardFlavorFlags flags) override;

  private:
    explicit CarbonPasteboard(Store store) : store_(std::move(store)) {}
    const Board& board();

    Store store_;
    std::optional<Board> snapshot_;
    std::optional<std::int64_t> syncedChangeCount_;
    bool owner_ = false;
};

}  // namespace platform::sandbox
