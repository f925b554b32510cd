#include "platform/x11/window_image.h"

#include <poll.h>
#include <xcb/composite.h>
#include <xcb/damage.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace platform::x11 {
namespace {

bool succeeded(xcb_connection_t* c, xcb_void_cookie_t cookie) {
    xcb_generic_error_t* error = xcb_request_check(c, cookie);
    std::free(error);
    return error == nullptr;
}

// How the pixels of a drawable of one depth and visual are laid out.
struct PixelLayout {
    int bitsPerPixel = 0;
    int scanlinePad = 32;
    bool msbFirst = false;
    std::uint32_t red = 0, green = 0, blue = 0, alpha = 0;
};

std::optional<PixelLayout> pixelLayout(Connection& connection, std::uint8_t depth, xcb_visualid_t visual) {
    const xcb_setup_t* setup = xcb_get_setup(connection.xcb());
    PixelLayout layout;
    layout.msbFirst = setup->image_byte_order == XCB_IMAGE_ORDER_MSB_FIRST;
    for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem; xcb_format_next(&it)) {
        if (it.data->depth != depth) continue;
        layout.bitsPerPixel = it.data->bits_per_pixel;
        layout.scanlinePad = it.data->scanline_pad;
    }
    for (auto d = xcb_screen_allowed_depths_iterator(connection.screen()); d.rem; xcb_depth_next(&d)) {
        for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v)) {
            if (v.data->visual_id != visual) continue;
            if (v.data->_class != XCB_VISUAL_CLASS_TRUE_COLOR &&
                v.data->_class != XCB_VISUAL_CLASS_DIRECT_COLOR)
                return std::nullopt;
            layout.red = v.data->red_mask;
            layout.green = v.data->green_mask;
            layout.blue = v.data->blue_mask;
        }
    }
    if (layout.red == 0 ||
        (layout.bitsPerPixel != 16 && layout.bitsPerPixel != 24 && layout.bitsPerPixel != 32))
        return std::nullopt;
    if (depth == 32) layout.alpha = ~(layout.red | layout.green | layout.blue);
    return layout;
}

std::uint8_t channel(std::uint32_t pixel, std::uint32_t mask) {
    if (mask == 0) return 255;
    int shift = __builtin_ctz(mask);
    std::uint32_t max = mask >> shift;
    return static_cast<std::uint8_t>(((pixel & mask) >> shift) * 255u / max);
}

std::optional<Bitmap> convert(const std::uint8_t* data, std::size_t length, int width, int height,
                              const PixelLayout& layout) {
    const std::size_t bytesPerPixel = static_cast<std::size_t>(layout.bitsPerPixel) / 8;
    const std::size_t pad = static_cast<std::size_t>(layout.scanlinePad);
    const std::size_t stride =
        (static_cast<std::size_t>(width) * layout.bitsPerPixel + pad - 1) / pad * pad / 8;
    if (length < stride * static_cast<std::size_t>(height)) return std::nullopt;
    Bitmap image;
    image.width = width;
    image.height = height;
    image.rgba.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
    std::uint8_t* out = image.rgba.data();
    const bool plain = bytesPerPixel == 4 && !layout.msbFirst && layout.red == 0xFF0000 &&
                       layout.green == 0xFF00 && layout.blue == 0xFF && layout.alpha == 0;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = data + stride * static_cast<std::size_t>(y);
        if (plain) {  // the usual depth-24 layout: B, G, R, unused
            for (int x = 0; x < width; ++x, row += 4, out += 4) {
                out[0] = row[2];
                out[1] = row[1];
                out[2] = row[0];
                out[3] = 255;
            }
            continue;
        }
        for (int x = 0; x < width; ++x, row += bytesPerPixel, out += 4) {
            std::uint32_t pixel = 0;
            for (std::size_t b = 0; b < bytesPerPixel; ++b) {
                std::size_t shift = layout.msbFirst ? (bytesPerPixel - 1 - b) * 8 : b * 8;
                pixel |= static_cast<std::uint32_t>(row[b]) << shift;
            }
            std::uint8_t a = layout.alpha ? channel(pixel, layout.alpha) : 255;
            std::uint8_t rgb[3] = {channel(pixel, layout.red), channel(pixel, layout.green),
                                   channel(pixel, layout.blue)};
            // Pixels with an alpha channel are premultiplied on the server.
            for (int k = 0; k < 3; ++k)
                out[k] = a == 0 ? 0 : static_cast<std::uint8_t>(std::min(255u, rgb[k] * 255u / a));
            out[3] = a;
        }
    }
    return image;
}

std::optional<Bitmap> readDrawable(Connection& connection, xcb_drawable_t drawable, std::int16_t x,
                                   std::int16_t y, std::uint16_t width, std::uint16_t height,
                                   const PixelLayout& layout) {
    xcb_connection_t* c = connection.xcb();
    xcb_generic_error_t* error = nullptr;
    auto reply =
        owned(xcb_get_image_reply(
                  c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, x, y, width, height, 0xFFFFFFFFu),
                  &error),
              error);
    if (!reply) return std::nullopt;
    return convert(xcb_get_image_data(reply.get()),
                   static_cast<std::size_t>(xcb_get_image_data_length(reply.get())), width, height, layout);
}

// Waits until the window has been repainted after its redirection: until no damage has been reported
// for a short while, at most a bounded time.
void awaitRepaint(Connection& connection, std::uint8_t damageEventBase) {
    using Clock = std::chrono::steady_clock;
    constexpr auto kQuiet = std::chrono::milliseconds(40);
    constexpr auto kFirstDamage = std::chrono::milliseconds(100);
    constexpr auto kLongest = std::chrono::milliseconds(500);
    xcb_connection_t* c = connection.xcb();
    const auto start = Clock::now();
    std::optional<Clock::time_point> lastDamage;
    for (;;) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
            if ((event->response_type & 0x7F) == damageEventBase + XCB_DAMAGE_NOTIFY)
                lastDamage = Clock::now();
            std::free(event);
        }
        if (xcb_connection_has_error(c)) return;
        auto deadline = std::min(lastDamage ? *lastDamage + kQuiet : start + kFirstDamage, start + kLongest);
        auto now = Clock::now();
        if (now >= deadline) return;
        pollfd p{xcb_get_file_descriptor(c), POLLIN, 0};
        int ms =
            static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count()) +
            1;
        ::poll(&p, 1, ms);
    }
}

bool compositorRunning(Connection& connection) {
    int screenNumber = 0;
    for (auto it = xcb_setup_roots_iterator(xcb_get_setup(connection.xcb())); it.rem;
         xcb_screen_next(&it), ++screenNumber)
        if (it.data == connection.screen()) break;
    xcb_atom_t selection = connection.atom("_NET_WM_CM_S" + std::to_string(screenNumber));
    if (selection == XCB_ATOM_NONE) return false;
    xcb_generic_error_t* error = nullptr;
    auto reply = owned(xcb_get_selection_owner_reply(
                           connection.xcb(), xcb_get_selection_owner(connection.xcb(), selection), &error),
                       error);
    return reply && reply->owner != XCB_WINDOW_NONE;
}

struct DrawableInfo {
    std::uint8_t depth = 0;
    xcb_visualid_t visual = 0;
};

std::optional<DrawableInfo> drawableInfo(Connection& connection, xcb_window_t window) {
    xcb_connection_t* c = connection.xcb();
    auto attributesCookie = xcb_get_window_attributes(c, window);
    auto geometryCookie = xcb_get_geometry(c, window);
    xcb_generic_error_t* e1 = nullptr;
    auto attributes = owned(xcb_get_window_attributes_reply(c, attributesCookie, &e1), e1);
    xcb_generic_error_t* e2 = nullptr;
    auto geometry = owned(xcb_get_geometry_reply(c, geometryCookie, &e2), e2);
    if (!attributes || !geometry) return std::nullopt;
    return DrawableInfo{geometry->depth, attributes->visual};
}

// The pixels of the top-level's Composite pixmap. The redirection is automatic, so the screen goes on
// showing the window, and it is released again before this returns.
std::optional<Bitmap> compositeImage(Connection& connection, const WindowPlace& place, const PixelRect& area,
                                     bool waitForRepaint) {
    xcb_connection_t* c = connection.xcb();
    auto info = drawableInfo(connection, place.topLevel);
    if (!info) return std::nullopt;
    auto layout = pixelLayout(connection, info->depth, info->visual);
    if (!layout) return std::nullopt;

    std::optional<xcb_damage_damage_t> damage;
    std::uint8_t damageEventBase = 0;
    if (waitForRepaint && hasDamage(connection)) {
        xcb_generic_error_t* error = nullptr;
        auto version =
            owned(xcb_damage_query_version_reply(c, xcb_damage_query_version(c, 1, 1), &error), error);
        if (version) {
            damage = xcb_generate_id(c);
            damageEventBase = xcb_get_extension_data(c, &xcb_damage_id)->first_event;
            if (!succeeded(c, xcb_damage_create_checked(c, *damage, place.topLevel,
                                                        XCB_DAMAGE_REPORT_LEVEL_RAW_RECTANGLES)))
                damage.reset();
        }
    }
    std::optional<Bitmap> image;
    if (succeeded(
            c, xcb_composite_redirect_window_checked(c, place.topLevel, XCB_COMPOSITE_REDIRECT_AUTOMATIC))) {
        if (damage) awaitRepaint(connection, damageEventBase);
        xcb_pixmap_t pixmap = xcb_generate_id(c);
        if (succeeded(c, xcb_composite_name_window_pixmap_checked(c, place.topLevel, pixmap))) {
            image = readDrawable(connection, pixmap, static_cast<std::int16_t>(area.x - place.topLevelRect.x),
                                 static_cast<std::int16_t>(area.y - place.topLevelRect.y),
                                 static_cast<std::uint16_t>(area.width),
                                 static_cast<std::uint16_t>(area.height), *layout);
            xcb_free_pixmap(c, pixmap);
        }
        xcb_composite_unredirect_window(c, place.topLevel, XCB_COMPOSITE_REDIRECT_AUTOMATIC);
    }
    if (damage) xcb_damage_destroy(c, *damage);
    xcb_flush(c);
    return image;
}

}  // namespace

PixelRect rootRect(Connection& c) {
    return {0, 0, c.screen()->width_in_pixels, c.screen()->height_in_pixels};
}

std::optional<WindowPlace> locateWindow(Connection& connection, xcb_window_t window) {
    xcb_connection_t* c = connection.xcb();
    if (window == XCB_WINDOW_NONE || window == connection.root()) return std::nullopt;
    // Up the tree to the child of the root that holds the window.
    xcb_window_t topLevel = window;
    for (int depth = 0; depth < 64; ++depth) {
        xcb_generic_error_t* error = nullptr;
        auto tree = owned(xcb_query_tree_reply(c, xcb_query_tree(c, topLevel), &error), error);
        if (!tree) return std::nullopt;
        if (tree->root != connection.root()) return std::nullopt;  // on another screen
        if (tree->parent == connection.root()) break;
        if (tree->parent == XCB_WINDOW_NONE) return std::nullopt;
        topLevel = tree->parent;
    }
    xcb_generic_error_t* error = nullptr;
    auto geometry = owned(xcb_get_geometry_reply(c, xcb_get_geometry(c, topLevel), &error), error);
    if (!geometry) return std::nullopt;
    auto client =
        readClientWindow(connection, window, topLevel != window ? topLevel : xcb_window_t{XCB_WINDOW_NONE});
    if (!client) return std::nullopt;
    WindowPlace place;
    place.window = window;
    place.topLevel = topLevel;
    place.topLevelRect = {geometry->x, geometry->y, geometry->width + 2 * geometry->border_width,
                          geometry->height + 2 * geometry->border_width};
    place.frame = client->frameRect;
    place.onScreen = client->onScreen;
    return place;
}

PixelRect visibleFrame(Connection& c, const WindowPlace& place) {
    return intersection(intersection(place.frame, place.topLevelRect), rootRect(c));
}

bool coveredByOthers(Connection& connection, const WindowPlace& place, const PixelRect& area) {
    xcb_connection_t* c = connection.xcb();
    xcb_generic_error_t* error = nullptr;
    auto tree = owned(xcb_query_tree_reply(c, xcb_query_tree(c, connection.root()), &error), error);
    if (!tree) return true;
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    const int count = xcb_query_tree_children_length(tree.get());
    int index = 0;
    while (index < count && children[index] != place.topLevel) ++index;
    if (index == count) return true;
    // The children come bottom to top: those after the window are above it.
    std::vector<std::pair<xcb_get_window_attributes_cookie_t, xcb_get_geometry_cookie_t>> cookies;
    for (int i = index + 1; i < count; ++i)
        cookies.emplace_back(xcb_get_window_attributes(c, children[i]), xcb_get_geometry(c, children[i]));
    bool covered = false;
    for (auto& [attributesCookie, geometryCookie] : cookies) {
        xcb_generic_error_t* e1 = nullptr;
        auto attributes = owned(xcb_get_window_attributes_reply(c, attributesCookie, &e1), e1);
        xcb_generic_error_t* e2 = nullptr;
        auto geometry = owned(xcb_get_geometry_reply(c, geometryCookie, &e2), e2);
        if (!attributes || !geometry || attributes->map_state != XCB_MAP_STATE_VIEWABLE ||
            attributes->_class == XCB_WINDOW_CLASS_INPUT_ONLY)
            continue;
        PixelRect other{geometry->x, geometry->y, geometry->width + 2 * geometry->border_width,
                        geometry->height + 2 * geometry->border_width};
        if (!intersection(other, area).empty()) covered = true;
    }
    return covered;
}

std::optional<Bitmap> rootImage(Connection& connection, const PixelRect& area) {
    if (area.empty()) return std::nullopt;
    xcb_screen_t* screen = connection.screen();
    auto layout = pixelLayout(connection, screen->root_depth, screen->root_visual);
    if (!layout) return std::nullopt;
    return readDrawable(connection, connection.root(), static_cast<std::int16_t>(area.x),
                        static_cast<std::int16_t>(area.y), static_cast<std::uint16_t>(area.width),
                        static_cast<std::uint16_t>(area.height), *layout);
}

std::optional<Bitmap> windowImage(Connection& connection, const WindowPlace& place, const PixelRect& area) {
    if (area.empty() || !place.onScreen) return std::nullopt;
    const bool covered = coveredByOthers(connection, place, area);
    if (hasComposite(connection)) {
        // A compositing manager keeps every window's pixmap current; otherwise the redirection makes a
        // fresh pixmap, and the parts that were covered are only there once the client has repainted them.
        if (auto image = compositeImage(connection, place, area, covered && !compositorRunning(connection)))
            return image;
        if (!drawableInfo(connection, place.topLevel)) return std::nullopt;  // gone meanwhile
    }
    if (covered) return std::nullopt;  // the screen shows other windows there
    return rootImage(connection, area);
}

}  // namespace platform::x11
