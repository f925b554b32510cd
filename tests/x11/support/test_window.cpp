// A test window for the desktop tests: a top-level window with a given WM_CLASS, title, geometry,
// window type, state and opacity, painted with a known pixel pattern (see test_pattern.h). It prints
// its window id in decimal once the window is mapped, then keeps painting until it is killed.
//
//   ssp-test-window [--class INSTANCE,CLASS | --no-class] [--title TEXT] [--title-hex HEX]
//                   [--geometry WxH+X+Y] [--seed N] [--type NAME] [--state NAME]... [--opacity 0..1]
//                   [--no-pid] [--unmapped] [--no-title] [--legacy-title-hex HEX] [--override-redirect]
//
// --title sets _NET_WM_NAME and WM_NAME; --title-hex sets both to raw bytes (for invalid UTF-8);
// --no-title sets neither; --legacy-title-hex sets only WM_NAME, of type STRING, to raw (Latin-1) bytes.
// --type NAME sets _NET_WM_WINDOW_TYPE_NAME (NORMAL, DOCK, DIALOG, UTILITY, DESKTOP, ...); --state NAME
// adds _NET_WM_STATE_NAME (ABOVE, HIDDEN, ...) before mapping. --override-redirect makes a window the
// window manager leaves alone (as menus and overlays are), placed exactly at the geometry.
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/x11/support/test_pattern.h"

namespace {

xcb_atom_t atom(xcb_connection_t* c, const std::string& name) {
    xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(name.size()), name.data()), nullptr);
    xcb_atom_t a = r ? r->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(r);
    return a;
}

void setProperty(xcb_connection_t* c, xcb_window_t w, xcb_atom_t property, xcb_atom_t type, uint8_t format,
                 const void* data, size_t count) {
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, property, type, format, static_cast<uint32_t>(count),
                        data);
}

std::string fromHex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    std::string instance = "ssp-test-window", klass = "Ssp-test-window", title = "Test window";
    bool hasClass = true, setPid = true, mapped = true, hasTitle = true, overrideRedirect = false;
    std::string legacyTitle;
    int width = 320, height = 200, x = 0, y = 0;
    uint32_t seed = 1;
    std::string type;
    std::vector<std::string> states;
    double opacity = -1;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
        if (a == "--class") {
            std::string v = next();
            auto comma = v.find(',');
            instance = v.substr(0, comma);
            klass = comma == std::string::npos ? v : v.substr(comma + 1);
        } else if (a == "--no-class") {
            hasClass = false;
        } else if (a == "--title") {
            title = next();
        } else if (a == "--title-hex") {
            title = fromHex(next());
        } else if (a == "--no-title") {
            hasTitle = false;
        } else if (a == "--legacy-title-hex") {
            hasTitle = false;
            legacyTitle = fromHex(next());
        } else if (a == "--geometry") {
            std::sscanf(next().c_str(), "%dx%d+%d+%d", &width, &height, &x, &y);
        } else if (a == "--seed") {
            seed = static_cast<uint32_t>(std::stoul(next()));
        } else if (a == "--type") {
            type = next();
        } else if (a == "--state") {
            states.push_back(next());
        } else if (a == "--opacity") {
            opacity = std::stod(next());
        } else if (a == "--no-pid") {
            setPid = false;
        } else if (a == "--unmapped") {
            mapped = false;
        } else if (a == "--override-redirect") {
            overrideRedirect = true;
        } else {
            std::fprintf(stderr, "ssp-test-window: unknown argument %s\n", a.c_str());
            return 2;
        }
    }

    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) return 1;
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    xcb_window_t w = xcb_generate_id(c);
    uint32_t values[] = {screen->black_pixel, overrideRedirect ? 1u : 0u,
                         XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_STRUCTURE_NOTIFY};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, w, screen->root, static_cast<int16_t>(x),
                      static_cast<int16_t>(y), static_cast<uint16_t>(width), static_cast<uint16_t>(height), 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);

    xcb_atom_t utf8 = atom(c, "UTF8_STRING");
    if (hasTitle) {
        setProperty(c, w, atom(c, "_NET_WM_NAME"), utf8, 8, title.data(), title.size());
        setProperty(c, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, title.data(), title.size());
    }
    if (!legacyTitle.empty())
        setProperty(c, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, legacyTitle.data(), legacyTitle.size());
    if (hasClass) {
        std::string wmClass = instance + '\0' + klass + '\0';
        setProperty(c, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, wmClass.data(), wmClass.size());
    }
    if (setPid) {
        uint32_t pid = static_cast<uint32_t>(getpid());
        setProperty(c, w, atom(c, "_NET_WM_PID"), XCB_ATOM_CARDINAL, 32, &pid, 1);
    }
    // The requested position is the user's choice, so that the window manager keeps it.
    uint32_t hints[18] = {};
    hints[0] = 1 | 2 | 4 | 8;  // USPosition, USSize, PPosition, PSize
    hints[1] = static_cast<uint32_t>(x);
    hints[2] = static_cast<uint32_t>(y);
    hints[3] = static_cast<uint32_t>(width);
    hints[4] = static_cast<uint32_t>(height);
    setProperty(c, w, XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS, 32, hints, 18);
    if (!type.empty()) {
        xcb_atom_t t = atom(c, "_NET_WM_WINDOW_TYPE_" + type);
        setProperty(c, w, atom(c, "_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM, 32, &t, 1);
    }
    if (!states.empty()) {
        std::vector<xcb_atom_t> s;
        for (const auto& name : states) s.push_back(atom(c, "_NET_WM_STATE_" + name));
        setProperty(c, w, atom(c, "_NET_WM_STATE"), XCB_ATOM_ATOM, 32, s.data(), s.size());
    }
    if (opacity >= 0) {
        uint32_t o = static_cast<uint32_t>(opacity * 0xFFFFFFFFu);
        setProperty(c, w, atom(c, "_NET_WM_WINDOW_OPACITY"), XCB_ATOM_CARDINAL, 32, &o, 1);
    }

    // The pattern, drawn once into a pixmap and copied on every exposure.
    xcb_pixmap_t pixmap = xcb_generate_id(c);
    xcb_create_pixmap(c, screen->root_depth, pixmap, w, static_cast<uint16_t>(width),
                      static_cast<uint16_t>(height));
    xcb_gcontext_t gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, pixmap, 0, nullptr);
    std::vector<uint32_t> row(static_cast<size_t>(width));
    for (int py = 0; py < height; ++py) {
        for (int px = 0; px < width; ++px) row[static_cast<size_t>(px)] = ssptest::patternPixel(seed, px, py);
        xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap, gc, static_cast<uint16_t>(width), 1, 0,
                      static_cast<int16_t>(py), 0, screen->root_depth, static_cast<uint32_t>(width * 4),
                      reinterpret_cast<const uint8_t*>(row.data()));
    }
    if (!mapped) {
        std::printf("%u\n", w);
        std::fflush(stdout);
    } else {
        xcb_map_window(c, w);
    }
    xcb_flush(c);

    bool announced = !mapped;
    while (xcb_generic_event_t* e = xcb_wait_for_event(c)) {
        uint8_t kind = e->response_type & 0x7f;
        if (kind == XCB_EXPOSE || kind == XCB_MAP_NOTIFY) {
            xcb_copy_area(c, pixmap, w, gc, 0, 0, 0, 0, static_cast<uint16_t>(width),
                          static_cast<uint16_t>(height));
            xcb_flush(c);
        }
        if (kind == XCB_EXPOSE && !announced) {
            announced = true;
            std::printf("%u\n", w);
            std::fflush(stdout);
        }
        std::free(e);
    }
    return 0;
}
