#include "platform/x11/capture_windows.h"

#include <cstdlib>
#include <memory>

namespace platform::x11 {
namespace {

template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T>
Reply<T> reply(T* p) {
    return Reply<T>(p, &std::free);
}

std::vector<xcb_window_t> children(Connection& c, xcb_window_t window) {
    auto tree = reply(xcb_query_tree_reply(c.xcb(), xcb_query_tree(c.xcb(), window), nullptr));
    if (!tree) return {};
    xcb_window_t* list = xcb_query_tree_children(tree.get());
    return std::vector<xcb_window_t>(list, list + xcb_query_tree_children_length(tree.get()));
}

// The windows among `windows` that carry WM_STATE, asked in one pipelined round.
std::vector<bool> haveWmState(Connection& c, const std::vector<xcb_window_t>& windows) {
    xcb_atom_t wmState = c.atom("WM_STATE");
    std::vector<xcb_get_property_cookie_t> cookies;
    for (xcb_window_t w : windows)
        cookies.push_back(xcb_get_property(c.xcb(), 0, w, wmState, XCB_ATOM_ANY, 0, 0));
    std::vector<bool> result;
    for (auto cookie : cookies) {
        auto r = reply(xcb_get_property_reply(c.xcb(), cookie, nullptr));
        result.push_back(r && r->type != XCB_ATOM_NONE);
    }
    return result;
}

// The client below a frame: the first window with WM_STATE, breadth first, a few levels down.
xcb_window_t clientInside(Connection& c, xcb_window_t frame) {
    std::vector<xcb_window_t> level = children(c, frame);
    for (int depth = 0; depth < 3 && !level.empty(); ++depth) {
        std::vector<bool> state = haveWmState(c, level);
        for (std::size_t i = 0; i < level.size(); ++i) {
            if (state[i]) return level[i];
        }
        std::vector<xcb_window_t> next;
        for (xcb_window_t w : level) {
            std::vector<xcb_window_t> below = children(c, w);
            next.insert(next.end(), below.begin(), below.end());
        }
        level = std::move(next);
    }
    return 0;
}

bool hasAtom(Connection& c, xcb_window_t window, const char* property, const char* value) {
    auto p = getProperty(c, window, c.atom(property), XCB_ATOM_ATOM);
    if (!p) return false;
    xcb_atom_t wanted = c.atom(value);
    for (std::uint32_t a : p->cardinals()) {
        if (a == wanted) return true;
    }
    return false;
}

}  // namespace

std::vector<TopLevel> topLevels(Connection& c, bool findClients) {
    std::vector<xcb_window_t> windows = children(c, c.root());
    std::vector<xcb_get_window_attributes_cookie_t> attributes;
    std::vector<xcb_get_geometry_cookie_t> geometries;
    for (xcb_window_t w : windows) {
        attributes.push_back(xcb_get_window_attributes(c.xcb(), w));
        geometries.push_back(xcb_get_geometry(c.xcb(), w));
    }
    std::vector<bool> state = haveWmState(c, windows);
    std::vector<TopLevel> list;
    for (std::size_t i = 0; i < windows.size(); ++i) {
        auto a = reply(xcb_get_window_attributes_reply(c.xcb(), attributes[i], nullptr));
        auto g = reply(xcb_get_geometry_reply(c.xcb(), geometries[i], nullptr));
        if (!a || !g) continue;  // gone meanwhile
        TopLevel t;
        t.window = windows[i];
        t.viewable = a->map_state == XCB_MAP_STATE_VIEWABLE;
        t.overrideRedirect = a->override_redirect;
        t.inputOnly = a->_class == XCB_WINDOW_CLASS_INPUT_ONLY;
        t.x = g->x;
        t.y = g->y;
        t.width = g->width + 2 * g->border_width;
        t.height = g->height + 2 * g->border_width;
        t.depth = g->depth;
        t.visual = a->visual;
        t.client = state[i] ? windows[i] : 0;
        list.push_back(t);
    }
    for (TopLevel& t : list) {
        if (findClients && !t.client && !t.overrideRedirect && !t.inputOnly)
            t.client = clientInside(c, t.window);
    }
    return list;
}

xcb_window_t topLevelOf(Connection& c, xcb_window_t window) {
    if (window == 0 || window == c.root()) return 0;
    for (int hops = 0; hops < 64; ++hops) {
        auto tree = reply(xcb_query_tree_reply(c.xcb(), xcb_query_tree(c.xcb(), window), nullptr));
        if (!tree) return 0;
        if (tree->parent == c.root()) return window;
        if (tree->parent == XCB_WINDOW_NONE) return 0;
        window = tree->parent;
    }
    return 0;
}

bool isDesktopWindow(Connection& c, xcb_window_t client) {
    return hasAtom(c, client, "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_DESKTOP");
}

bool isHiddenWindow(Connection& c, xcb_window_t client) {
    return hasAtom(c, client, "_NET_WM_STATE", "_NET_WM_STATE_HIDDEN");
}

}  // namespace platform::x11
