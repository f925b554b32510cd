#include "platform/x11/window_list.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>

#include "platform/utf8.h"
#include "platform/window_server.h"

namespace platform::x11 {
namespace {

// The atoms the list reads, interned together in one round of requests.
enum AtomId : std::size_t {
    kUtf8String,
    kCompoundText,
    kClientListStacking,
    kCurrentDesktop,
    kWmName,
    kWmPid,
    kFrameExtents,
    kWmWindowType,
    kWmState,
    kWmDesktop,
    kWmWindowOpacity,
    kIcccmWmState,
    kStateHidden,
    kStateAbove,
    kFirstType,
};
constexpr const char* kTypeNames[] = {"DESKTOP",      "DOCK",   "TOOLBAR",       "MENU",       "UTILITY",
                                      "SPLASH",       "DIALOG", "DROPDOWN_MENU", "POPUP_MENU", "TOOLTIP",
                                      "NOTIFICATION", "COMBO",  "DND",           "NORMAL"};
constexpr std::size_t kTypeCount = std::size(kTypeNames);
constexpr std::size_t kAtomCount = kFirstType + kTypeCount;

using Atoms = std::array<xcb_atom_t, kAtomCount>;

Atoms internAtoms(xcb_connection_t* c) {
    std::array<std::string, kAtomCount> names = {
        "UTF8_STRING",          "COMPOUND_TEXT",      "_NET_CLIENT_LIST_STACKING", "_NET_CURRENT_DESKTOP",
        "_NET_WM_NAME",         "_NET_WM_PID",        "_NET_FRAME_EXTENTS",        "_NET_WM_WINDOW_TYPE",
        "_NET_WM_STATE",        "_NET_WM_DESKTOP",    "_NET_WM_WINDOW_OPACITY",    "WM_STATE",
        "_NET_WM_STATE_HIDDEN", "_NET_WM_STATE_ABOVE"};
    for (std::size_t i = 0; i < kTypeCount; ++i)
        names[kFirstType + i] = std::string("_NET_WM_WINDOW_TYPE_") + kTypeNames[i];
    std::array<xcb_intern_atom_cookie_t, kAtomCount> cookies{};
    // Atoms that no client ever interned are on no window: asking only for existing ones creates none.
    for (std::size_t i = 0; i < kAtomCount; ++i)
        cookies[i] = xcb_intern_atom(c, 1, static_cast<std::uint16_t>(names[i].size()), names[i].data());
    Atoms atoms{};
    for (std::size_t i = 0; i < kAtomCount; ++i) {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(c, cookies[i], nullptr);
        atoms[i] = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
        std::free(reply);
    }
    return atoms;
}

// Longest property read, in 32-bit units: far beyond any title or list.
constexpr std::uint32_t kPropertyUnits = 1 << 16;

xcb_get_property_cookie_t askProperty(xcb_connection_t* c, xcb_window_t w, xcb_atom_t property) {
    return xcb_get_property(c, 0, w, property, XCB_ATOM_ANY, 0, kPropertyUnits);
}

std::optional<Property> propertyReply(xcb_connection_t* c, xcb_get_property_cookie_t cookie) {
    xcb_generic_error_t* error = nullptr;
    auto reply = owned(xcb_get_property_reply(c, cookie, &error), error);
    if (!reply || reply->type == XCB_ATOM_NONE) return std::nullopt;
    Property p;
    p.type = reply->type;
    p.format = reply->format;
    p.bytes.assign(static_cast<const char*>(xcb_get_property_value(reply.get())),
                   static_cast<std::size_t>(xcb_get_property_value_length(reply.get())));
    return p;
}

std::optional<std::uint32_t> firstCardinal(const std::optional<Property>& p) {
    if (!p) return std::nullopt;
    auto values = p->cardinals();
    if (values.empty()) return std::nullopt;
    return values.front();
}

std::optional<std::string> textOf(const std::optional<Property>& p, const Atoms& atoms) {
    if (!p || p->format != 8) return std::nullopt;
    TextEncoding encoding = TextEncoding::Utf8;
    if (p->type == XCB_ATOM_STRING) encoding = TextEncoding::Latin1;
    if (p->type == atoms[kCompoundText] && p->type != XCB_ATOM_NONE) encoding = TextEncoding::CompoundText;
    return propertyText(p->bytes, encoding);
}

// WM_CLASS holds the instance and the class, each ended by a NUL. ICCCM makes them Latin-1; many
// clients write UTF-8, which is kept when it is valid.
void readClass(const std::optional<Property>& p, ClientWindow& w) {
    if (!p || p->format != 8 || p->bytes.empty()) return;
    std::string_view bytes = p->bytes;
    auto nul = bytes.find('\0');
    std::string_view instance = bytes.substr(0, nul);
    std::string_view klass = nul == std::string_view::npos ? std::string_view() : bytes.substr(nul + 1);
    klass = klass.substr(0, klass.find('\0'));
    auto decoded = [](std::string_view s) {
        return repairedUtf8(s) == s ? std::string(s) : propertyText(s, TextEncoding::Latin1);
    };
    w.instance = decoded(instance);
    if (!klass.empty()) w.klass = decoded(klass);
}

std::vector<std::string> typeNames(const std::optional<Property>& p, const Atoms& atoms) {
    std::vector<std::string> names;
    if (!p) return names;
    for (std::uint32_t atom : p->cardinals()) {
        for (std::size_t i = 0; i < kTypeCount; ++i)
            if (atoms[kFirstType + i] != XCB_ATOM_NONE && atom == atoms[kFirstType + i])
                names.emplace_back(kTypeNames[i]);
    }
    return names;
}

bool holdsAtom(const std::optional<Property>& p, xcb_atom_t atom) {
    if (!p || atom == XCB_ATOM_NONE) return false;
    auto values = p->cardinals();
    return std::find(values.begin(), values.end(), atom) != values.end();
}

// The windows to read: each client with its top-level window when the fallback found it.
struct Candidate {
    xcb_window_t client;
    xcb_window_t frame;
};

std::vector<Candidate> stackingClients(const Property& list) {
    std::vector<Candidate> out;
    auto ids = list.cardinals();
    for (auto it = ids.rbegin(); it != ids.rend(); ++it) out.push_back({*it, XCB_WINDOW_NONE});
    return out;
}

// Without EWMH: the root's children (bottom to top) that carry WM_STATE, or hold a child that does.
std::vector<Candidate> wmStateClients(xcb_connection_t* c, xcb_window_t root, const Atoms& atoms) {
    std::vector<Candidate> out;
    xcb_generic_error_t* error = nullptr;
    auto tree = owned(xcb_query_tree_reply(c, xcb_query_tree(c, root), &error), error);
    if (!tree || atoms[kIcccmWmState] == XCB_ATOM_NONE) return out;
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    int count = xcb_query_tree_children_length(tree.get());
    std::vector<xcb_get_property_cookie_t> states;
    std::vector<xcb_query_tree_cookie_t> trees;
    for (int i = 0; i < count; ++i) {
        states.push_back(xcb_get_property(c, 0, children[i], atoms[kIcccmWmState], XCB_ATOM_ANY, 0, 2));
        trees.push_back(xcb_query_tree(c, children[i]));
    }
    struct Inner {
        xcb_window_t frame;
        std::vector<xcb_window_t> windows;
        std::vector<xcb_get_property_cookie_t> states;
    };
    std::vector<Inner> inner;
    std::vector<Candidate> found(static_cast<std::size_t>(count),
                                 Candidate{XCB_WINDOW_NONE, XCB_WINDOW_NONE});
    for (int i = 0; i < count; ++i) {
        bool hasState = propertyReply(c, states[static_cast<std::size_t>(i)]).has_value();
        xcb_generic_error_t* e = nullptr;
        auto sub = owned(xcb_query_tree_reply(c, trees[static_cast<std::size_t>(i)], &e), e);
        if (hasState) {
            found[static_cast<std::size_t>(i)] = {children[i], children[i]};
            continue;
        }
        if (!sub) continue;
        Inner in{children[i], {}, {}};
        const xcb_window_t* grand = xcb_query_tree_children(sub.get());
        for (int k = 0; k < xcb_query_tree_children_length(sub.get()); ++k) {
            in.windows.push_back(grand[k]);
            in.states.push_back(xcb_get_property(c, 0, grand[k], atoms[kIcccmWmState], XCB_ATOM_ANY, 0, 2));
        }
        inner.push_back(std::move(in));
        found[static_cast<std::size_t>(i)].frame = children[i];
    }
    for (Inner& in : inner) {
        xcb_window_t client = XCB_WINDOW_NONE;
        for (std::size_t k = 0; k < in.windows.size(); ++k)
            if (propertyReply(c, in.states[k]) && client == XCB_WINDOW_NONE) client = in.windows[k];
        for (Candidate& f : found)
            if (f.frame == in.frame && f.client == XCB_WINDOW_NONE) f.client = client;
    }
    for (auto it = found.rbegin(); it != found.rend(); ++it)
        if (it->client != XCB_WINDOW_NONE) out.push_back(*it);
    return out;
}

struct Cookies {
    xcb_get_window_attributes_cookie_t attributes;
    xcb_get_geometry_cookie_t geometry;
    xcb_translate_coordinates_cookie_t position;
    xcb_get_geometry_cookie_t frameGeometry;
    xcb_get_property_cookie_t netName, name, wmClass, pid, extents, type, state, desktop, opacity;
};

Cookies ask(xcb_connection_t* c, xcb_window_t root, const Candidate& w, const Atoms& a) {
    Cookies k{};
    k.attributes = xcb_get_window_attributes(c, w.client);
    k.geometry = xcb_get_geometry(c, w.client);
    k.position = xcb_translate_coordinates(c, w.client, root, 0, 0);
    if (w.frame != XCB_WINDOW_NONE) k.frameGeometry = xcb_get_geometry(c, w.frame);
    k.netName = askProperty(c, w.client, a[kWmName]);
    k.name = askProperty(c, w.client, XCB_ATOM_WM_NAME);
    k.wmClass = askProperty(c, w.client, XCB_ATOM_WM_CLASS);
    k.pid = askProperty(c, w.client, a[kWmPid]);
    k.extents = askProperty(c, w.client, a[kFrameExtents]);
    k.type = askProperty(c, w.client, a[kWmWindowType]);
    k.state = askProperty(c, w.client, a[kWmState]);
    k.desktop = askProperty(c, w.client, a[kWmDesktop]);
    k.opacity = askProperty(c, w.client, a[kWmWindowOpacity]);
    return k;
}

// Every reply is collected, even after a failure, so that none is left behind on the connection.
std::optional<ClientWindow> collect(xcb_connection_t* c, const Candidate& candidate, const Cookies& k,
                                    const Atoms& atoms, std::optional<std::uint32_t> currentDesktop) {
    xcb_generic_error_t* e1 = nullptr;
    auto attributes = owned(xcb_get_window_attributes_reply(c, k.attributes, &e1), e1);
    xcb_generic_error_t* e2 = nullptr;
    auto geometry = owned(xcb_get_geometry_reply(c, k.geometry, &e2), e2);
    xcb_generic_error_t* e3 = nullptr;
    auto position = owned(xcb_translate_coordinates_reply(c, k.position, &e3), e3);
    Reply<xcb_get_geometry_reply_t> frameGeometry(nullptr, &std::free);
    if (candidate.frame != XCB_WINDOW_NONE) {
        xcb_generic_error_t* e4 = nullptr;
        frameGeometry = owned(xcb_get_geometry_reply(c, k.frameGeometry, &e4), e4);
    }
    auto netName = propertyReply(c, k.netName);
    auto name = propertyReply(c, k.name);
    auto wmClass = propertyReply(c, k.wmClass);
    auto pid = propertyReply(c, k.pid);
    auto extents = propertyReply(c, k.extents);
    auto type = propertyReply(c, k.type);
    auto state = propertyReply(c, k.state);
    auto desktop = propertyReply(c, k.desktop);
    auto opacity = propertyReply(c, k.opacity);
    if (!attributes || !geometry || !position) return std::nullopt;  // gone while it was read

    ClientWindow w;
    w.id = candidate.client;
    w.frame = candidate.frame;
    w.title = textOf(netName, atoms);
    if (!w.title) w.title = textOf(name, atoms);
    readClass(wmClass, w);
    w.pid = firstCardinal(pid);

    const std::int32_t border = geometry->border_width;
    w.frameRect = {position->dst_x - border, position->dst_y - border, geometry->width + 2 * border,
                   geometry->height + 2 * border};
    auto sides = extents ? extents->cardinals() : std::vector<std::uint32_t>();
    if (frameGeometry && sides.size() < 4) {
        const std::int32_t b = frameGeometry->border_width;
        w.frameRect = {frameGeometry->x, frameGeometry->y, frameGeometry->width + 2 * b,
                       frameGeometry->height + 2 * b};
    } else if (sides.size() >= 4 &&
               std::all_of(sides.begin(), sides.begin() + 4, [](std::uint32_t s) { return s < 1u << 15; })) {
        const auto left = static_cast<std::int32_t>(sides[0]), right = static_cast<std::int32_t>(sides[1]);
        const auto top = static_cast<std::int32_t>(sides[2]), bottom = static_cast<std::int32_t>(sides[3]);
        w.frameRect = {w.frameRect.x - left, w.frameRect.y - top, w.frameRect.width + left + right,
                       w.frameRect.height + top + bottom};
    }

    auto types = typeNames(type, atoms);
    w.desktopElement = !types.empty() && types.front() == "DESKTOP";
    w.layer = windowLevel(types, holdsAtom(state, atoms[kStateAbove]));
    auto onDesktop = firstCardinal(desktop);
    bool currentOne =
        !onDesktop || !currentDesktop || *onDesktop == 0xFFFFFFFFu || *onDesktop == *currentDesktop;
    w.onScreen = attributes->map_state == XCB_MAP_STATE_VIEWABLE && !holdsAtom(state, atoms[kStateHidden]) &&
                 currentOne;
    if (auto o = firstCardinal(opacity)) w.alpha = static_cast<double>(*o) / 4294967295.0;
    return w;
}

void appendLatin1(std::string& out, unsigned char c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

}  // namespace

PixelRect intersection(const PixelRect& a, const PixelRect& b) {
    std::int64_t x0 = std::max<std::int64_t>(a.x, b.x), y0 = std::max<std::int64_t>(a.y, b.y);
    std::int64_t x1 = std::min<std::int64_t>(std::int64_t{a.x} + a.width, std::int64_t{b.x} + b.width);
    std::int64_t y1 = std::min<std::int64_t>(std::int64_t{a.y} + a.height, std::int64_t{b.y} + b.height);
    if (x1 <= x0 || y1 <= y0) return {};
    return {static_cast<std::int32_t>(x0), static_cast<std::int32_t>(y0), static_cast<std::int32_t>(x1 - x0),
            static_cast<std::int32_t>(y1 - y0)};
}

std::int64_t windowLevel(const std::vector<std::string>& types, bool keptAbove) {
    std::int64_t normal = keptAbove ? kFloatingWindowLevel : kNormalWindowLevel;
    for (const std::string& t : types) {
        if (t == "NORMAL" || t == "DIALOG" || t == "UTILITY" || t == "SPLASH") return normal;
        if (t == "DESKTOP") return kDesktopWindowLevel;
        if (t == "DOCK") return kDockWindowLevel;
        if (t == "TOOLBAR" || t == "MENU") return kFloatingWindowLevel;
        if (t == "DROPDOWN_MENU" || t == "POPUP_MENU" || t == "COMBO") return kPopUpMenuWindowLevel;
        if (t == "NOTIFICATION") return kStatusWindowLevel;
        if (t == "TOOLTIP") return kHelpWindowLevel;
        if (t == "DND") return kDraggingWindowLevel;
    }
    return normal;
}

std::string repairedUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        if (std::size_t length = utf8SequenceLength(bytes, i)) {
            out.append(bytes.substr(i, length));
            i += length;
        } else {
            out.append("\xEF\xBF\xBD");
            ++i;
        }
    }
    return out;
}

std::string propertyText(std::string_view bytes, TextEncoding encoding) {
    while (!bytes.empty() && bytes.back() == '\0') bytes.remove_suffix(1);
    if (encoding == TextEncoding::Utf8) return repairedUtf8(bytes);
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (encoding == TextEncoding::CompoundText && c == 0x1B) {
            // An escape sequence switches character sets: skip it up to its final byte.
            while (++i < bytes.size() && !(bytes[i] >= 0x30 && bytes[i] <= 0x7E)) {
            }
            continue;
        }
        if (c == 0) continue;
        appendLatin1(out, c);
    }
    return out;
}

std::vector<ClientWindow> clientWindows(Connection& connection) {
    xcb_connection_t* c = connection.xcb();
    xcb_window_t root = connection.root();
    Atoms atoms = internAtoms(c);
    auto stackingCookie =
        xcb_get_property(c, 0, root, atoms[kClientListStacking], XCB_ATOM_WINDOW, 0, kPropertyUnits);
    auto desktopCookie = xcb_get_property(c, 0, root, atoms[kCurrentDesktop], XCB_ATOM_CARDINAL, 0, 1);
    auto stacking = propertyReply(c, stackingCookie);
    auto currentDesktop = firstCardinal(propertyReply(c, desktopCookie));

    std::vector<Candidate> candidates =
        stacking && stacking->format == 32 ? stackingClients(*stacking) : wmStateClients(c, root, atoms);
    std::vector<Cookies> cookies;
    cookies.reserve(candidates.size());
    for (const Candidate& w : candidates) cookies.push_back(ask(c, root, w, atoms));
    std::vector<ClientWindow> windows;
    for (std::size_t i = 0; i < candidates.size(); ++i)
        if (auto w = collect(c, candidates[i], cookies[i], atoms, currentDesktop))
            windows.push_back(std::move(*w));
    return windows;
}

std::optional<ClientWindow> readClientWindow(Connection& connection, xcb_window_t window,
                                             xcb_window_t frame) {
    xcb_connection_t* c = connection.xcb();
    Atoms atoms = internAtoms(c);
    auto desktopCookie =
        xcb_get_property(c, 0, connection.root(), atoms[kCurrentDesktop], XCB_ATOM_CARDINAL, 0, 1);
    Candidate candidate{window, frame};
    Cookies cookies = ask(c, connection.root(), candidate, atoms);
    auto currentDesktop = firstCardinal(propertyReply(c, desktopCookie));
    return collect(c, candidate, cookies, atoms, currentDesktop);
}

std::vector<ClientWindow> selectWindows(std::vector<ClientWindow> windows, std::uint32_t option,
                                        std::uint32_t relativeToWindow) {
    const bool onScreenOnly = option & kCGWindowListOptionOnScreenOnly;
    const bool above = option & 2u, below = option & 4u;
    const bool including = option & kCGWindowListOptionIncludingWindow;
    const bool noDesktop = option & kCGWindowListExcludeDesktopElements;
    auto relative = std::find_if(windows.begin(), windows.end(),
                                 [&](const ClientWindow& w) { return w.id == relativeToWindow; });
    const bool relativeKnown = relativeToWindow != kCGNullWindowID && relative != windows.end();
    std::vector<ClientWindow> out;
    if (including && !above && !below) {
        if (relativeKnown) out.push_back(*relative);
        return out;
    }
    for (auto it = windows.begin(); it != windows.end(); ++it) {
        if ((above || below) && relativeKnown) {
            bool isRelative = it == relative;
            bool inFront = it < relative;
            if (isRelative ? !including : (above ? !inFront : inFront)) continue;
            if (!isRelative && !it->onScreen) continue;
        } else if (onScreenOnly && !it->onScreen) {
            continue;
        }
        if (noDesktop && it->desktopElement) continue;
        out.push_back(*it);
    }
    return out;
}

Value windowRecord(const ClientWindow& w, const std::optional<std::string>& owner, std::int32_t originX,
                   std::int32_t originY) {
    Dictionary bounds{{"X", static_cast<double>(w.frameRect.x - originX)},
                      {"Y", static_cast<double>(w.frameRect.y - originY)},
                      {"Width", static_cast<double>(w.frameRect.width)},
                      {"Height", static_cast<double>(w.frameRect.height)}};
    Dictionary record{{kCGWindowNumber, static_cast<std::int64_t>(w.id)},
                      {kCGWindowLayer, w.layer},
                      {kCGWindowBounds, std::move(bounds)},
                      {"kCGWindowIsOnscreen", w.onScreen},
                      {"kCGWindowAlpha", w.alpha}};
    if (w.pid) record.emplace("kCGWindowOwnerPID", static_cast<std::int64_t>(*w.pid));
    if (w.title) record.emplace(kCGWindowName, *w.title);
    if (owner) record.emplace(kCGWindowOwnerName, *owner);
    return Value(std::move(record));
}

}  // namespace platform::x11
