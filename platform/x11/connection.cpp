#include "platform/x11/connection.h"

#include <xcb/randr.h>

#include <algorithm>
#include <cstdlib>

namespace platform::x11 {

std::unique_ptr<Connection> Connection::open(const char* name) {
    if (!name) name = std::getenv("DISPLAY");
    if (!name || !*name) return nullptr;
    int screenNumber = 0;
    xcb_connection_t* c = xcb_connect(name, &screenNumber);
    if (!c || xcb_connection_has_error(c)) {
        if (c) xcb_disconnect(c);
        return nullptr;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber && it.rem; ++i) xcb_screen_next(&it);
    if (!it.rem) {
        xcb_disconnect(c);
        return nullptr;
    }
    return std::unique_ptr<Connection>(new Connection(c, it.data, name));
}

Connection::~Connection() {
    xcb_disconnect(c_);
}

xcb_atom_t Connection::atom(const std::string& name) {
    {
        std::lock_guard lock(mutex_);
        if (auto it = atoms_.find(name); it != atoms_.end()) return it->second;
    }
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        c_, xcb_intern_atom(c_, 0, static_cast<std::uint16_t>(name.size()), name.data()), nullptr);
    xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    std::lock_guard lock(mutex_);
    atoms_[name] = atom;
    return atom;
}

std::string Connection::atomName(xcb_atom_t atom) {
    xcb_get_atom_name_reply_t* reply = xcb_get_atom_name_reply(c_, xcb_get_atom_name(c_, atom), nullptr);
    if (!reply) return {};
    std::string name(xcb_get_atom_name_name(reply),
                     static_cast<std::size_t>(xcb_get_atom_name_name_length(reply)));
    std::free(reply);
    return name;
}

Connection* display() {
    static std::unique_ptr<Connection> connection = Connection::open();
    return connection.get();
}

std::vector<std::uint32_t> Property::cardinals() const {
    std::vector<std::uint32_t> values;
    if (format != 32) return values;
    values.resize(bytes.size() / 4);
    std::copy_n(bytes.data(), values.size() * 4, reinterpret_cast<char*>(values.data()));
    return values;
}

std::optional<Property> getProperty(Connection& c, xcb_window_t window, xcb_atom_t property,
                                    xcb_atom_t type) {
    Property result;
    std::uint32_t offset = 0;  // in 32-bit units
    for (;;) {
        xcb_get_property_reply_t* reply = xcb_get_property_reply(
            c.xcb(), xcb_get_property(c.xcb(), 0, window, property, type, offset, 1 << 20), nullptr);
        if (!reply) return std::nullopt;
        if (reply->type == XCB_ATOM_NONE) {
            std::free(reply);
            return std::nullopt;
        }
        result.type = reply->type;
        result.format = reply->format;
        result.bytes.append(static_cast<const char*>(xcb_get_property_value(reply)),
                            static_cast<std::size_t>(xcb_get_property_value_length(reply)));
        std::uint32_t after = reply->bytes_after;
        std::free(reply);
        if (after == 0) return result;
        offset = static_cast<std::uint32_t>(result.bytes.size() / 4);
    }
}

std::vector<Monitor> monitors(Connection& c) {
    std::vector<Monitor> list;
    xcb_randr_get_monitors_reply_t* reply =
        xcb_randr_get_monitors_reply(c.xcb(), xcb_randr_get_monitors(c.xcb(), c.root(), 1), nullptr);
    if (reply) {
        for (xcb_randr_monitor_info_iterator_t it = xcb_randr_get_monitors_monitors_iterator(reply); it.rem;
             xcb_randr_monitor_info_next(&it)) {
            const xcb_randr_monitor_info_t* info = it.data;
            Monitor m;
            int outputs = xcb_randr_monitor_info_outputs_length(info);
            m.id = outputs > 0 ? xcb_randr_monitor_info_outputs(info)[0] : info->name;
            m.name = c.atomName(info->name);
            m.primary = info->primary;
            m.x = info->x;
            m.y = info->y;
            m.width = info->width;
            m.height = info->height;
            m.widthMillimeters = info->width_in_millimeters;
            m.heightMillimeters = info->height_in_millimeters;
            list.push_back(std::move(m));
        }
        std::free(reply);
    }
    if (list.empty()) {
        Monitor whole;
        whole.id = 1;
        whole.primary = true;
        whole.width = c.screen()->width_in_pixels;
        whole.height = c.screen()->height_in_pixels;
        whole.widthMillimeters = c.screen()->width_in_millimeters;
        whole.heightMillimeters = c.screen()->height_in_millimeters;
        list.push_back(whole);
    }
    std::stable_partition(list.begin(), list.end(), [](const Monitor& m) { return m.primary; });
    return list;
}

}  // namespace platform::x11
