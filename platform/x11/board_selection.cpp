#include "platform/x11/board_selection.h"

#include <algorithm>
#include <set>

#include "platform/url.h"
#include "platform/utf8.h"

namespace platform::x11 {
namespace {

const std::vector<std::string> kTextTargets = {"UTF8_STRING", "text/plain;charset=utf-8", "text/plain",
                                               "STRING", "TEXT"};
// Foreign text, most trusted first.
const std::vector<std::string> kTextReadOrder = {"text/plain;charset=utf-8", "UTF8_STRING", "text/plain",
                                                 "STRING"};

struct TypeTargets {
    const char* boardType;
    std::vector<std::string> targets;
};

// Board types offered by their bytes as they are.
const std::vector<TypeTargets> kDataTargets = {
    {"public.rtf", {"text/rtf", "application/rtf"}},
    {"public.png", {"image/png"}},
    {"public.tiff", {"image/tiff"}},
    {"public.jpeg", {"image/jpeg"}},
    {"com.compuserve.gif", {"image/gif"}},
    {"com.adobe.pdf", {"application/pdf"}},
    {"public.pdf", {"application/pdf"}},
    {"public.mpeg-4", {"video/mp4"}},
    {"public.movie", {"video/quicktime"}},
};

// Foreign targets and the board types they become, with the alternatives read as one.
const std::vector<std::pair<std::vector<std::string>, const char*>> kForeignTypes = {
    {{"text/html"}, "public.html"},         {{"text/rtf", "application/rtf"}, "public.rtf"},
    {{"image/png"}, "public.png"},          {{"image/tiff"}, "public.tiff"},
    {{"image/jpeg"}, "public.jpeg"},        {{"image/gif"}, "com.compuserve.gif"},
    {{"image/bmp"}, "com.microsoft.bmp"},   {{"image/webp"}, "org.webmproject.webp"},
    {{"application/pdf"}, "com.adobe.pdf"},
};

const std::set<std::string> kProtocolAtoms = {"TARGETS",
                                              "TIMESTAMP",
                                              "MULTIPLE",
                                              "SAVE_TARGETS",
                                              "DELETE",
                                              "INCR",
                                              "INSERT_SELECTION",
                                              "INSERT_PROPERTY",
                                              "LENGTH",
                                              "CLIENT_WINDOW",
                                              "HOST_NAME",
                                              "USER",
                                              "PROCESS",
                                              "TASK",
                                              "CLASS",
                                              "NAME",
                                              "OWNER_OS",
                                              "ATOM_PAIR",
                                              "_GTK_TEXT_BUFFER_CONTENTS",
                                              "TEXT",
                                              "COMPOUND_TEXT"};

const std::vector<std::string> kUriTargets = {"text/uri-list", "x-special/gnome-copied-files"};

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

bool isTextTarget(const std::string& target) {
    std::string l = lower(target);
    return target == "UTF8_STRING" || target == "STRING" || l == "text/plain" ||
           l.rfind("text/plain;", 0) == 0;
}

std::string textOf(const Bytes& b) {
    return std::string(b.begin(), b.end());
}

// The file URL strings of one item: a property list of strings, else the string itself.
std::vector<std::string> fileURLsOf(const PasteboardItem& item) {
    std::vector<std::string> out;
    if (auto plist = item.propertyListForType(NSPasteboardTypeFileURL))
        if (auto list = stringArray(*plist)) {
            for (const auto& s : *list)
                if (parseAbsoluteURL(s)) out.push_back(s);
            return out;
        }
    if (auto text = item.stringForType(NSPasteboardTypeFileURL))
        if (parseAbsoluteURL(*text)) out.push_back(*text);
    return out;
}

void decodeUtf8(std::string_view s, std::vector<char32_t>& out) {
    for (std::size_t i = 0; i < s.size();) {
        auto c = static_cast<unsigned char>(s[i]);
        int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
        char32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
        if (i + static_cast<std::size_t>(len) > s.size()) len = 1, cp = 0xFFFD;
        for (int k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        out.push_back(cp);
        i += static_cast<std::size_t>(len);
    }
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Foreign text as UTF-8: UTF-8 targets as they are when valid, STRING (and text/plain that is not
// valid UTF-8) as Latin-1.
std::string foreignText(const std::string& target, const Bytes& bytes) {
    std::string text = textOf(bytes);
    while (!text.empty() && text.back() == '\0') text.pop_back();
    if (target == "STRING" || !isValidUtf8(text)) return utf8FromLatin1(text);
    return text;
}

std::string foreignHtml(const Bytes& bytes) {
    std::string text = textOf(bytes);
    if (text.size() >= 2 && static_cast<unsigned char>(text[0]) == 0xFF &&
        static_cast<unsigned char>(text[1]) == 0xFE)
        text = utf8FromUtf16(std::string_view(text).substr(2), false);
    else if (text.size() >= 2 && static_cast<unsigned char>(text[0]) == 0xFE &&
             static_cast<unsigned char>(text[1]) == 0xFF)
        text = utf8FromUtf16(std::string_view(text).substr(2), true);
    else if (text.size() >= 3 && text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        text.erase(0, 3);
    if (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
}

const char* foreignTypeOf(const std::string& target) {
    for (const auto& [targets, type] : kForeignTypes)
        if (std::find(targets.begin(), targets.end(), target) != targets.end()) return type;
    return nullptr;
}

}  // namespace

std::string latin1FromUtf8(std::string_view utf8) {
    std::vector<char32_t> cps;
    decodeUtf8(utf8, cps);
    std::string out;
    out.reserve(cps.size());
    for (char32_t cp : cps) out += cp <= 0xFF ? static_cast<char>(cp) : '?';
    return out;
}

std::string utf8FromLatin1(std::string_view latin1) {
    std::string out;
    out.reserve(latin1.size());
    for (char c : latin1) appendUtf8(out, static_cast<unsigned char>(c));
    return out;
}

std::string utf8FromUtf16(std::string_view bytes, bool bigEndian) {
    std::string out;
    auto unit = [&](std::size_t i) -> char32_t {
        auto a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
        return bigEndian ? (a << 8 | b) : (b << 8 | a);
    };
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        char32_t u = unit(i);
        if (u >= 0xD800 && u < 0xDC00 && i + 3 < bytes.size()) {
            char32_t low = unit(i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                i += 2;
                continue;
            }
        }
        appendUtf8(out, (u >= 0xD800 && u < 0xE000) ? 0xFFFD : u);
    }
    return out;
}

std::string utf16leFromUtf8(std::string_view utf8) {
    std::vector<char32_t> cps;
    decodeUtf8(utf8, cps);
    std::string out;
    auto unit = [&](char32_t u) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>((u >> 8) & 0xFF);
    };
    for (char32_t cp : cps) {
        if (cp >= 0x10000) {
            unit(0xD800 + ((cp - 0x10000) >> 10));
            unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            unit(cp);
        }
    }
    return out;
}

std::vector<std::string> urisFromUriList(std::string_view text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string line(text.substr(start, end - start));
        while (!line.empty() && (line.back() == '\r' || line.back() == '\0' || line.back() == ' '))
            line.pop_back();
        if (!line.empty() && line[0] != '#') out.push_back(line);
        start = end + 1;
    }
    return out;
}

std::vector<std::string> urisFromGnomeCopiedFiles(std::string_view text) {
    std::vector<std::string> lines = urisFromUriList(text);
    if (!lines.empty() && (lines.front() == "copy" || lines.front() == "cut")) lines.erase(lines.begin());
    return lines;
}

std::pair<std::shared_ptr<const void>, std::string_view> SelectionOffer::answer() const {
    if (!latin1) return {owner, bytes};
    auto text = std::make_shared<const std::string>(latin1FromUtf8(bytes));
    return {text, *text};
}

std::vector<SelectionOffer> selectionOffers(const std::shared_ptr<const Board>& board) {
    std::vector<SelectionOffer> offers;
    auto offer = [&](const std::string& target, const std::string& type, std::shared_ptr<const void> owner,
                     std::string_view bytes, bool latin1 = false) {
        for (const auto& o : offers)
            if (o.target == target) return;
        offers.push_back({target, type, std::move(owner), bytes, latin1});
    };
    auto made = [](std::string text) {
        auto held = std::make_shared<const std::string>(std::move(text));
        return std::pair<std::shared_ptr<const void>, std::string_view>(held, *held);
    };
    // A representation's bytes as its data read gives them, viewed in place where the board holds them.
    auto view = [&](const Representation& rep)
        -> std::optional<std::pair<std::shared_ptr<const void>, std::string_view>> {
        if (!(rep.answers & AnswersData)) return std::nullopt;
        if (const std::string* s = rep.kind == RepresentationKind::String ? rep.value.asString() : nullptr)
            return std::pair<std::shared_ptr<const void>, std::string_view>(board, *s);
        SharedBytes data = rep.data();
        if (!data) return std::nullopt;
        std::string_view v(reinterpret_cast<const char*>(data->data()), data->size());
        return std::pair<std::shared_ptr<const void>, std::string_view>(data, v);
    };
    auto offerText = [&](std::shared_ptr<const void> owner, std::string_view utf8) {
        for (const auto& target : kTextTargets)
            offer(target, target == "TEXT" ? "UTF8_STRING" : target, owner, utf8, target == "STRING");
    };

    std::vector<std::string> uris;
    std::vector<std::string> paths;
    for (const StoredItem& stored : board->items) {
        PasteboardItem item(stored.reps);
        std::vector<std::string> fileURLs = fileURLsOf(item);
        for (const auto& url : fileURLs) {
            uris.push_back(url);
            if (auto parsed = parseURL(url); parsed && parsed->isFileURL())
                paths.push_back(parsed->filePath());
        }
        if (fileURLs.empty())
            if (auto url = item.stringForType(NSPasteboardTypeURL); url && parseAbsoluteURL(*url))
                uris.push_back(*url);
    }
    if (board->items.empty()) return offers;

    const std::vector<Representation>& reps = board->items.front().reps;
    PasteboardItem first(reps);
    bool hasText = false;
    for (const Representation& rep : reps) {
        if (rep.type == NSPasteboardTypeString) {
            if (!(rep.answers & AnswersString)) continue;
            if (rep.kind == RepresentationKind::String && rep.value.asString()) {
                offerText(board, *rep.value.asString());
                hasText = true;
            } else if (auto text = rep.string()) {
                auto [owner, bytes] = made(std::move(*text));
                offerText(owner, bytes);
                hasText = true;
            }
        } else if (rep.type == NSPasteboardTypeHTML) {
            if (auto v = view(rep)) {
                std::string_view html = v->second;
                if (html.substr(0, 3) == "\xEF\xBB\xBF") html.remove_prefix(3);
                offer("text/html", "text/html", v->first, html);
            }
        } else if (rep.type == NSPasteboardTypeURL) {
            if (auto url = rep.string(); url && parseAbsoluteURL(*url)) {
                std::string title = first.stringForType("public.url-name").value_or(*url);
                auto [owner, bytes] = made(utf16leFromUtf8(*url + "\n" + title));
                offer("text/x-moz-url", "text/x-moz-url", owner, bytes);
            }
        } else {
            for (const auto& [type, targets] : kDataTargets) {
                if (rep.type != type) continue;
                if (auto v = view(rep))
                    for (const auto& target : targets) offer(target, target, v->first, v->second);
            }
        }
    }
    if (!uris.empty()) {
        std::string list, gnome = "copy";
        for (const auto& uri : uris) {
            list += uri + "\r\n";
            gnome += "\n" + uri;
        }
        auto [listOwner, listBytes] = made(std::move(list));
        offer("text/uri-list", "text/uri-list", listOwner, listBytes);
        auto [gnomeOwner, gnomeBytes] = made(std::move(gnome));
        offer("x-special/gnome-copied-files", "x-special/gnome-copied-files", gnomeOwner, gnomeBytes);
    }
    if (!hasText && !paths.empty()) {
        std::string text;
        for (std::size_t i = 0; i < paths.size(); ++i) text += (i ? "\n" : "") + paths[i];
        auto [owner, bytes] = made(std::move(text));
        offerText(owner, bytes);
    }
    return offers;
}

std::vector<std::vector<std::string>> foreignReadPlan(const std::vector<std::string>& offered) {
    std::vector<std::vector<std::string>> plan;
    std::set<std::string> planned;
    auto has = [&](const std::string& t) {
        return std::find(offered.begin(), offered.end(), t) != offered.end();
    };
    for (const std::string& target : offered) {
        if (planned.count(target) || kProtocolAtoms.count(target)) continue;
        std::vector<std::string> group;
        if (isTextTarget(target)) {
            for (const auto& t : kTextReadOrder)
                if (has(t)) group.push_back(t);
            for (const auto& t : offered)  // any other text/plain;charset=... joins as a last resort
                if (isTextTarget(t) && std::find(group.begin(), group.end(), t) == group.end())
                    planned.insert(t);
        } else if (std::find(kUriTargets.begin(), kUriTargets.end(), target) != kUriTargets.end()) {
            for (const auto& t : kUriTargets)
                if (has(t)) group.push_back(t);
        } else if (target == "text/rtf" || target == "application/rtf") {
            for (const auto& t : {"text/rtf", "application/rtf"})
                if (has(t)) group.push_back(t);
        } else {
            group.push_back(target);
        }
        if (group.empty()) continue;
        for (const auto& t : group) planned.insert(t);
        plan.push_back(std::move(group));
    }
    return plan;
}

Board foreignBoard(const std::vector<std::vector<std::string>>& plan,
                   std::map<std::string, std::optional<Bytes>> read, std::int64_t changeCount) {
    Board board;
    board.changeCount = changeCount;
    std::vector<Representation> firstReps;
    std::vector<std::string> uris;
    for (const auto& group : plan) {
        const std::string* target = nullptr;
        Bytes* bytes = nullptr;
        for (const auto& t : group) {
            auto it = read.find(t);
            if (it != read.end() && it->second) {
                target = &t;
                bytes = &*it->second;
                break;
            }
        }
        const std::string& name = target ? *target : group.front();
        if (bytes && std::find(kUriTargets.begin(), kUriTargets.end(), name) != kUriTargets.end()) {
            uris = name == "text/uri-list" ? urisFromUriList(textOf(*bytes))
                                           : urisFromGnomeCopiedFiles(textOf(*bytes));
            if (!uris.empty()) continue;  // the URIs become the items
        }
        Representation rep;
        if (isTextTarget(name)) {
            rep = {NSPasteboardTypeString, RepresentationKind::String,
                   Value(bytes ? foreignText(name, *bytes) : "")};
        } else if (name == "text/html") {
            rep = {NSPasteboardTypeHTML, RepresentationKind::String, Value(bytes ? foreignHtml(*bytes) : "")};
        } else if (const char* type = foreignTypeOf(name)) {
            rep = {type, RepresentationKind::Data, Value(bytes ? std::move(*bytes) : Bytes{})};
        } else {
            rep = {name, RepresentationKind::Data, Value(bytes ? std::move(*bytes) : Bytes{})};
        }
        if (!bytes) rep.answers = 0;
        firstReps.push_back(std::move(rep));
    }
    std::int64_t id = 0;
    for (const auto& uri : uris) {
        auto parsed = parseAbsoluteURL(uri);
        const char* type = parsed && parsed->isFileURL() ? NSPasteboardTypeFileURL : NSPasteboardTypeURL;
        StoredItem item{++id, {{type, RepresentationKind::String, Value(uri)}}};
        board.items.push_back(std::move(item));
    }
    if (!firstReps.empty()) {
        if (board.items.empty()) board.items.push_back({1, {}});
        auto& reps = board.items.front().reps;
        reps.insert(reps.end(), std::make_move_iterator(firstReps.begin()),
                    std::make_move_iterator(firstReps.end()));
    }
    return board;
}

}  // namespace platform::x11
