#include "platform/x11/composite_exclusion.h"

#include <poll.h>
#include <xcb/composite.h>
#include <xcb/xfixes.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <thread>

#include "platform/x11/capture_windows.h"

namespace platform::x11 {
namespace {

// The root's background pixmap as desktop tools publish it, or none.
xcb_pixmap_t rootPixmap(Connection& c) {
    for (const char* name : {"_XROOTPMAP_ID", "ESETROOT_PMAP_ID"}) {
        auto p = getProperty(c, c.root(), c.atom(name), XCB_ATOM_PIXMAP);
        if (!p) continue;
        std::vector<std::uint32_t> ids = p->cardinals();
        if (!ids.empty() && ids.front() != 0) return ids.front();
    }
    return 0;
}

void fillBlack(Bitmap& image, const PixelRect& area) {
    for (int y = area.y; y < area.y + area.height; ++y) {
        std::uint8_t* p = image.rgba.data() + (static_cast<std::size_t>(y) * image.width + area.x) * 4;
        for (int x = 0; x < area.width; ++x, p += 4) {
            p[0] = p[1] = p[2] = 0;
            p[3] = 255;
        }
    }
}

}  // namespace

PixelRect intersect(const PixelRect& a, const PixelRect& b) {
    int x0 = std::max(a.x, b.x), y0 = std::max(a.y, b.y);
    int x1 = std::min(a.x + a.width, b.x + b.width), y1 = std::min(a.y + a.height, b.y + b.height);
    if (x1 <= x0 || y1 <= y0) return PixelRect{};
    return PixelRect{x0, y0, x1 - x0, y1 - y0};
}

DamageWatch::DamageWatch(Connection& c) : c_(c) {
    if (!hasDamage(c)) return;
    firstEvent_ = xcb_get_extension_data(c.xcb(), &xcb_damage_id)->first_event;
    xcb_damage_damage_t damage = xcb_generate_id(c.xcb());
    xcb_generic_error_t* error = xcb_request_check(
        c.xcb(), xcb_damage_create_checked(c.xcb(), damage, c.root(), XCB_DAMAGE_REPORT_LEVEL_BOUNDING_BOX));
    if (error) {
        std::free(error);
        return;
    }
    damage_ = damage;
}

bool DamageWatch::collect() {
    bool any = false;
    while (xcb_generic_event_t* e = xcb_poll_for_event(c_.xcb())) {
        if (damage_ && (e->response_type & 0x7F) == firstEvent_ + XCB_DAMAGE_NOTIFY) {
            auto* notify = reinterpret_cast<xcb_damage_notify_event_t*>(e);
            pending_.push_back(
                PixelRect{notify->area.x, notify->area.y, notify->area.width, notify->area.height});
            any = true;
        }
        std::free(e);
    }
    // Reported damage is cleared, so that the next change is reported again.
    if (any) {
        xcb_damage_subtract(c_.xcb(), damage_, XCB_NONE, XCB_NONE);
        xcb_flush(c_.xcb());
    }
    return any;
}

bool DamageWatch::changed(const PixelRect& area) {
    collect();
    if (!damage_) return true;
    bool hit = std::any_of(pending_.begin(), pending_.end(),
                           [&](const PixelRect& r) { return !intersect(r, area).empty(); });
    pending_.clear();
    return hit;
}

void DamageWatch::settle(std::chrono::milliseconds quiet, std::chrono::milliseconds limit) {
    if (!damage_) {
        std::this_thread::sleep_for(quiet);
        return;
    }
    auto end = std::chrono::steady_clock::now() + limit;
    auto quietUntil = std::chrono::steady_clock::now() + quiet;
    xcb_damage_subtract(c_.xcb(), damage_, XCB_NONE, XCB_NONE);
    xcb_flush(c_.xcb());
    for (;;) {
        auto now = std::chrono::steady_clock::now();
        if (now >= quietUntil || now >= end || xcb_connection_has_error(c_.xcb())) break;
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(std::min(quietUntil, end) - now);
        pollfd fd{xcb_get_file_descriptor(c_.xcb()), POLLIN, 0};
        ::poll(&fd, 1, static_cast<int>(wait.count()) + 1);
        if (collect()) {
            quietUntil = std::chrono::steady_clock::now() + quiet;
        }
    }
    pending_.clear();
}

ExclusionCompositor::ExclusionCompositor(Connection& c, ImageReader& reader)
    : c_(c), reader_(reader), available_(hasComposite(c)) {}

bool ExclusionCompositor::redirect() {
    if (!available_) return false;
    if (redirected_) return true;
    xcb_generic_error_t* error = xcb_request_check(
        c_.xcb(),
        xcb_composite_redirect_subwindows_checked(c_.xcb(), c_.root(), XCB_COMPOSITE_REDIRECT_AUTOMATIC));
    if (error) {
        std::free(error);
        return false;
    }
    redirected_ = true;
    return true;
}

void ExclusionCompositor::paintBackground(Bitmap& image, int originX, int originY, const PixelRect& area) {
    fillBlack(image, area);
    xcb_pixmap_t pixmap = rootPixmap(c_);
    if (!pixmap) return;
    xcb_get_geometry_reply_t* g =
        xcb_get_geometry_reply(c_.xcb(), xcb_get_geometry(c_.xcb(), pixmap), nullptr);
    if (!g) return;
    PixelRect inPixmap = intersect(PixelRect{area.x + originX, area.y + originY, area.width, area.height},
                                   PixelRect{0, 0, g->width, g->height});
    std::optional<PixelFormat> format = pixelFormatOf(xcb_get_setup(c_.xcb()), c_.screen(), g->depth);
    std::free(g);
    if (inPixmap.empty() || !format) return;
    reader_.read(pixmap, inPixmap.x, inPixmap.y, inPixmap.width, inPixmap.height, *format, Paint::Copy, image,
                 inPixmap.x - originX, inPixmap.y - originY);
}

bool ExclusionCompositor::apply(Bitmap& image, int originX, int originY,
                                const std::vector<xcb_window_t>& excluded) {
    std::set<xcb_window_t> excludedTops;
    for (xcb_window_t w : excluded) {
        if (xcb_window_t top = topLevelOf(c_, w)) excludedTops.insert(top);
    }
    if (excludedTops.empty()) return true;
    std::vector<TopLevel> tops = topLevels(c_, false);
    const PixelRect frame{originX, originY, image.width, image.height};
    std::vector<PixelRect> areas;
    for (const TopLevel& t : tops) {
        if (!t.viewable || !excludedTops.count(t.window)) continue;
        PixelRect r = intersect(PixelRect{t.x, t.y, t.width, t.height}, frame);
        if (!r.empty()) areas.push_back(r);
    }
    if (areas.empty()) return true;
    if (!redirected_ && !redirect()) return false;
    const xcb_setup_t* setup = xcb_get_setup(c_.xcb());
    for (const PixelRect& area : areas) {
        paintBackground(image, originX, originY,
                        PixelRect{area.x - originX, area.y - originY, area.width, area.height});
        for (const TopLevel& t : tops) {
            if (!t.viewable || t.inputOnly || excludedTops.count(t.window)) continue;
            PixelRect r = intersect(PixelRect{t.x, t.y, t.width, t.height}, area);
            if (r.empty()) continue;
            std::optional<PixelFormat> format = pixelFormatOf(setup, c_.screen(), t.depth, t.visual);
            if (!format) return false;
            xcb_pixmap_t pixmap = xcb_generate_id(c_.xcb());
            xcb_generic_error_t* error = xcb_request_check(
                c_.xcb(), xcb_composite_name_window_pixmap_checked(c_.xcb(), t.window, pixmap));
            if (error) {
                // A window that went away meanwhile has nothing to paint; any other refusal leaves the
                // image unfinished.
                bool gone = error->error_code == XCB_WINDOW;
                std::free(error);
                if (gone) continue;
                return false;
            }
            bool ok = reader_.read(pixmap, r.x - t.x, r.y - t.y, r.width, r.height, *format, Paint::Over,
                                   image, r.x - originX, r.y - originY);
            xcb_free_pixmap(c_.xcb(), pixmap);
            if (!ok) return false;
        }
    }
    return true;
}

}  // namespace platform::x11
