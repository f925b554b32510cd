// How the board meets the X11 CLIPBOARD selection: the targets the server offers for its own board,
// and the items it makes of another client's offer. Pure functions, without a display.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/board.h"

namespace platform::x11 {

// One target offered to other clients: its name, the type of the property it is answered in (format
// 8), and its bytes, in memory before ownership is taken. The bytes are mostly the board's own (a view
// kept alive by `owner`), so that offering a representation costs no copy of it.
struct SelectionOffer {
    std::string target;
    std::string type;
    std::shared_ptr<const void> owner;
    std::string_view bytes;
    bool latin1 = false;  // answered as the Latin-1 form of the UTF-8 bytes, made when asked

    // The bytes as answered, with what keeps them alive.
    std::pair<std::shared_ptr<const void>, std::string_view> answer() const;
};

// The first item's representations as targets (text, HTML, RTF, images, PDF, movies), and the file
// URLs of all items together, in the order of the first item's representations. The protocol targets
// (TARGETS, TIMESTAMP, MULTIPLE) are not among them. The offers view the board's bytes: the board must
// not change while they live.
std::vector<SelectionOffer> selectionOffers(const std::shared_ptr<const Board>& board);

// The reads another client's offer needs: groups of alternative targets (the first that answers is
// taken), in the order of the offer. Protocol atoms and text aliases are left out.
std::vector<std::vector<std::string>> foreignReadPlan(const std::vector<std::string>& offered);

// The board made of what was read: per target name, its bytes, or nothing when the read failed or
// was not made. Representations that could not be read are listed but answer nothing.
Board foreignBoard(const std::vector<std::vector<std::string>>& plan,
                   std::map<std::string, std::optional<Bytes>> read, std::int64_t changeCount);

// Text conversions of the selection.
std::string latin1FromUtf8(std::string_view utf8);
std::string utf8FromLatin1(std::string_view latin1);
// UTF-16 (little-endian unless a byte-order mark says otherwise) to UTF-8; unpaired surrogates become
// U+FFFD.
std::string utf8FromUtf16(std::string_view bytes, bool bigEndian = false);
std::string utf16leFromUtf8(std::string_view utf8);
// The URIs of a text/uri-list (comments and blank lines skipped) or x-special/gnome-copied-files.
std::vector<std::string> urisFromUriList(std::string_view text);
std::vector<std::string> urisFromGnomeCopiedFiles(std::string_view text);

}  // namespace platform::x11
