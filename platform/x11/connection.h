// A connection to the X display that DISPLAY names, shared by the backend's services in one process.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace platform::x11 {

// A reply of xcb, freed with it.
template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

// Takes the reply and frees the error. The error is taken by reference: it is read only once the reply
// call, an argument evaluated in no fixed order, has set it.
template <typename T>
Reply<T> owned(T* reply, xcb_generic_error_t*& error) {
    std::free(error);
    error = nullptr;
    return Reply<T>(reply, &std::free);
}

class Connection {
  public:
    // Connects to `display` (DISPLAY when nothing is given); nothing when the display does not answer.
    static std::unique_ptr<Connection> open(const char* display = nullptr);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    xcb_connection_t* xcb() const { return c_; }
    xcb_screen_t* screen() const { return screen_; }
    xcb_window_t root() const { return screen_->root; }
    // The display name as connected to, e.g. ":1" (DISPLAY as given).
    const std::string& displayName() const { return displayName_; }

    // The atom of `name`, interned once per connection; XCB_ATOM_NONE when the server refuses it.
    xcb_atom_t atom(const std::string& name);
    // The name of an atom, or "" when the server has none.
    std::string atomName(xcb_atom_t atom);

  private:
    Connection(xcb_connection_t* c, xcb_screen_t* screen, std::string displayName)
        : c_(c), screen_(screen), displayName_(std::move(displayName)) {}
    xcb_connection_t* c_;
    xcb_screen_t* screen_;
    std::string displayName_;
    std::mutex mutex_;
    std::map<std::string, xcb_atom_t> atoms_;
};

// The process's connection to DISPLAY, opened on first use; nullptr when the display does not answer.
// It stays open for the life of the process.
Connection* display();

// A property of a window as raw bytes with its type and format (8, 16 or 32); nothing when absent.
struct Property {
    xcb_atom_t type = XCB_ATOM_NONE;
    std::uint8_t format = 0;
    std::string bytes;
    // 32-bit items (format 32) as numbers.
    std::vector<std::uint32_t> cardinals() const;
};
std::optional<Property> getProperty(Connection& c, xcb_window_t window, xcb_atom_t property,
                                    xcb_atom_t type = XCB_ATOM_ANY);

// One XRandR monitor, in root-window pixels.
struct Monitor {
    std::uint32_t id = 0;  // the monitor's first output id, else its name atom
    std::string name;
    bool primary = false;
    std::int32_t x = 0, y = 0, width = 0, height = 0;
    std::uint32_t widthMillimeters = 0, heightMillimeters = 0;
};

// The active monitors, the primary first, the others in the server's order. Without RandR 1.5 the
// whole root window is one monitor (id 1).
std::vector<Monitor> monitors(Connection& c);

// Whether the server offers the extension, at the version this backend uses (Composite 0.2, Damage
// 1.1, XFixes 2.0). Each also announces that version, which the extensions require before any other
// request; a request of a missing extension would close the connection.
bool hasComposite(Connection& c);
bool hasDamage(Connection& c);
bool hasXfixes(Connection& c);

}  // namespace platform::x11
