#include "platform/x11/pasteboard_server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xfixes.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <optional>

#include "platform/x11/board_selection.h"
#include "platform/x11/connection.h"
#include "platform/x11/pasteboard_client.h"
#include "platform/x11/pasteboard_protocol.h"

namespace platform::x11 {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kForeignReadLimit = std::chrono::milliseconds(2000);   // per target without progress
constexpr auto kForeignTotalLimit = std::chrono::milliseconds(8000);  // a whole offer
constexpr auto kTransferIdleLimit = std::chrono::seconds(10);         // a requestor's INCR transfer
constexpr std::size_t kMaxChunk = 256 * 1024;

struct Deleter {
    void operator()(void* p) const { std::free(p); }
};
template <class T>
using Reply = std::unique_ptr<T, Deleter>;

struct ClientConnection {
    int fd = -1;
    std::string in;
    std::deque<int> fds;
    struct Outgoing {
        std::string bytes;
        std::size_t sent = 0;
        int fd = -1;
    };
    std::deque<Outgoing> out;
    bool dead = false;
};

struct Request {
    int client = 0;
    Op op = Op::Info;
    std::unique_ptr<MessageReader> message;
};

// An INCR transfer to a requestor.
struct Transfer {
    xcb_window_t requestor = 0;
    xcb_atom_t property = 0;
    xcb_atom_t type = 0;
    std::shared_ptr<const void> owner;
    std::string_view bytes;
    std::size_t offset = 0;
    Clock::time_point lastProgress;
};

// Reading another owner's offer: its TARGETS, then each planned target in turn.
struct ForeignRead {
    xcb_timestamp_t time = 0;
    bool targetsRead = false;
    std::vector<std::vector<std::string>> plan;
    std::size_t group = 0, alternative = 0;
    std::map<std::string, std::optional<Bytes>> results;
    std::string target;
    xcb_atom_t targetAtom = 0;
    bool incr = false;
    Bytes incrData;
    Clock::time_point deadline, totalDeadline;
};

enum class Source { Empty, Ours, Foreign };

class Server {
  public:
    Server(std::unique_ptr<Connection> x, int listenFd) : x_(std::move(x)), listen_(listenFd) {}
    bool start();
    int run();

  private:
    xcb_connection_t* c() const { return x_->xcb(); }
    // X side.
    void drainEvents();
    void handleEvent(xcb_generic_event_t* event);
    xcb_timestamp_t serverTime();
    void takeOwnership();
    void makeOffers();
    void storeChangeCount();
    // After a request that may have changed the board: a change makes the board ours, keeps its count on
    // the root and takes CLIPBOARD afresh; a refused one offers our board again.
    void afterChange(bool changed);
    void ownerChanged(xcb_window_t owner, xcb_timestamp_t time);
    void becomeForeign(xcb_window_t owner, xcb_timestamp_t time);
    void onSelectionRequest(const xcb_selection_request_event_t& ev);
    bool convert(xcb_window_t requestor, xcb_atom_t target, xcb_atom_t property, bool allowMultiple);
    void putProperty(xcb_window_t window, xcb_atom_t property, xcb_atom_t type, int format, std::size_t count,
                     const void* data);
    void onRequestorProperty(const xcb_property_notify_event_t& ev);
    void dropTransfers(xcb_window_t window);
    // Reading a foreign offer.
    void startForeignRead();
    void requestTarget(const std::string& target);
    void onSelectionNotify(const xcb_selection_notify_event_t& ev);
    void onOwnProperty(const xcb_property_notify_event_t& ev);
    void targetRead(std::optional<Bytes> bytes);
    void nextTarget();
    void finishForeignRead();
    // Tools' side.
    void acceptClients();
    void readClient(int id, ClientConnection& client);
    void writeClient(ClientConnection& client);
    void processRequests();
    void answer(Request& request);
    void reply(int client, const MessageWriter& message);
    void checkTimeouts();
    int pollTimeoutMs() const;

    std::unique_ptr<Connection> x_;
    int listen_;
    xcb_window_t window_ = 0;
    std::uint8_t xfixesEvent_ = 0;
    xcb_atom_t clipboard_ = 0, targets_ = 0, timestamp_ = 0, multiple_ = 0, incr_ = 0, atomPair_ = 0,
               countAtom_ = 0, timeAtom_ = 0, selectionProperty_ = 0;
    std::size_t chunk_ = kMaxChunk;

    // Changed in place only while no offer or transfer views it; else the change works on a copy.
    std::shared_ptr<Board> board_ = std::make_shared<Board>();
    Board& changeBoard();
    Source source_ = Source::Empty;
    bool owning_ = false;
    xcb_timestamp_t ownTime_ = 0;
    std::vector<SelectionOffer> offers_;
    std::map<xcb_atom_t, std::size_t> offerByAtom_;
    std::vector<xcb_atom_t> offerTypes_;
    xcb_window_t foreignOwner_ = 0;
    xcb_timestamp_t foreignTime_ = 0;
    bool foreignRead_ = false;
    std::optional<ForeignRead> reading_;
    std::vector<Transfer> transfers_;

    std::deque<xcb_generic_event_t*> pendingEvents_;
    std::map<int, ClientConnection> clients_;
    int nextClient_ = 1;
    std::deque<Request> requests_;
};

bool Server::start() {
    xcb_connection_t* conn = c();
    for (auto [atom, name] : std::initializer_list<std::pair<xcb_atom_t*, const char*>>{
             {&clipboard_, "CLIPBOARD"},
             {&targets_, "TARGETS"},
             {&timestamp_, "TIMESTAMP"},
             {&multiple_, "MULTIPLE"},
             {&incr_, "INCR"},
             {&atomPair_, "ATOM_PAIR"},
             {&countAtom_, "_SSP_PASTEBOARD_CHANGE_COUNT"},
             {&timeAtom_, "_SSP_PASTEBOARD_TIME"},
             {&selectionProperty_, "_SSP_PASTEBOARD_SELECTION"}}) {
        *atom = x_->atom(name);
        if (*atom == XCB_ATOM_NONE) return false;
    }
    std::size_t maxRequest = static_cast<std::size_t>(xcb_get_maximum_request_length(conn)) * 4;
    chunk_ = std::min(kMaxChunk, maxRequest > 4096 ? maxRequest - 1024 : std::size_t{1024});

    window_ = xcb_generate_id(conn);
    std::uint32_t values[] = {1, XCB_EVENT_MASK_PROPERTY_CHANGE};
    xcb_create_window(conn, XCB_COPY_FROM_PARENT, window_, x_->root(), -10, -10, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                      XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
    static constexpr char kClass[] = "ssp-pasteboard-server\0ssp-pasteboard-server";
    xcb_change_property(conn, XCB_PROP_MODE_REPLACE, window_, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                        sizeof kClass, kClass);

    Reply<xcb_xfixes_query_version_reply_t> version(
        xcb_xfixes_query_version_reply(conn, xcb_xfixes_query_version(conn, 5, 0), nullptr));
    const xcb_query_extension_reply_t* xfixes = xcb_get_extension_data(conn, &xcb_xfixes_id);
    if (!version || !xfixes || !xfixes->present) return false;
    xfixesEvent_ = xfixes->first_event;
    xcb_xfixes_select_selection_input(conn, window_, clipboard_,
                                      XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);

    // The change count of this X session: a restarted server continues after the last one's (its board
    // is gone, which is a change).
    if (auto stored = getProperty(*x_, x_->root(), countAtom_, XCB_ATOM_CARDINAL)) {
        std::vector<std::uint32_t> v = stored->cardinals();
        if (v.size() >= 2)
            board_->changeCount = static_cast<std::int64_t>((std::uint64_t{v[1]} << 32) | v[0]) + 1;
    }
    storeChangeCount();
    Reply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(conn, xcb_get_selection_owner(conn, clipboard_), nullptr));
    if (owner && owner->owner != XCB_NONE) {
        source_ = Source::Foreign;
        foreignOwner_ = owner->owner;
    }
    xcb_flush(conn);
    return xcb_connection_has_error(conn) == 0;
}

void Server::afterChange(bool changed) {
    if (changed) {
        source_ = Source::Ours;
        storeChangeCount();
        takeOwnership();
    } else if (source_ == Source::Ours) {
        makeOffers();
    }
}

void Server::storeChangeCount() {
    auto count = static_cast<std::uint64_t>(board_->changeCount);
    std::uint32_t v[2] = {static_cast<std::uint32_t>(count), static_cast<std::uint32_t>(count >> 32)};
    xcb_change_property(c(), XCB_PROP_MODE_REPLACE, x_->root(), countAtom_, XCB_ATOM_CARDINAL, 32, 2, v);
}

// A real server timestamp: the time of a property change on our own window.
xcb_timestamp_t Server::serverTime() {
    xcb_change_property(c(), XCB_PROP_MODE_APPEND, window_, timeAtom_, XCB_ATOM_INTEGER, 8, 0, nullptr);
    xcb_flush(c());
    auto deadline = Clock::now() + std::chrono::seconds(2);
    while (Clock::now() < deadline && !xcb_connection_has_error(c())) {
        while (xcb_generic_event_t* ev = xcb_poll_for_event(c())) {
            if ((ev->response_type & 0x7F) == XCB_PROPERTY_NOTIFY) {
                auto* p = reinterpret_cast<xcb_property_notify_event_t*>(ev);
                if (p->window == window_ && p->atom == timeAtom_) {
                    xcb_timestamp_t t = p->time;
                    std::free(ev);
                    return t;
                }
            }
            pendingEvents_.push_back(ev);
        }
        pollfd pfd{xcb_get_file_descriptor(c()), POLLIN, 0};
        ::poll(&pfd, 1, 50);
    }
    return XCB_CURRENT_TIME;
}

Board& Server::changeBoard() {
    offers_.clear();
    offerByAtom_.clear();
    offerTypes_.clear();
    if (board_.use_count() > 1) board_ = std::make_shared<Board>(*board_);
    return *board_;
}

void Server::makeOffers() {
    offers_ = selectionOffers(board_);
    offerByAtom_.clear();
    offerTypes_.clear();
    for (std::size_t i = 0; i < offers_.size(); ++i) {
        offerByAtom_[x_->atom(offers_[i].target)] = i;
        offerTypes_.push_back(x_->atom(offers_[i].type));
    }
}

void Server::takeOwnership() {
    makeOffers();
    xcb_timestamp_t t = serverTime();
    xcb_set_selection_owner(c(), window_, clipboard_, t);
    Reply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(c(), xcb_get_selection_owner(c(), clipboard_), nullptr));
    owning_ = owner && owner->owner == window_;
    ownTime_ = t;
    foreignOwner_ = 0;
    reading_.reset();
}

void Server::becomeForeign(xcb_window_t owner, xcb_timestamp_t time) {
    source_ = owner == XCB_NONE ? Source::Empty : Source::Foreign;
    owning_ = false;
    foreignOwner_ = owner;
    foreignTime_ = time;
    foreignRead_ = false;
    reading_.reset();
    std::int64_t count = board_->changeCount + 1;
    offers_.clear();
    offerByAtom_.clear();
    offerTypes_.clear();
    board_ = std::make_shared<Board>();
    board_->changeCount = count;
    storeChangeCount();
}

void Server::ownerChanged(xcb_window_t owner, xcb_timestamp_t time) {
    Reply<xcb_get_selection_owner_reply_t> actual(
        xcb_get_selection_owner_reply(c(), xcb_get_selection_owner(c(), clipboard_), nullptr));
    xcb_window_t now = actual ? actual->owner : XCB_NONE;
    if (now == window_) return;  // ours again: a change we made
    if (owner != now) return;    // an event overtaken by a later change
    if (now == XCB_NONE && source_ == Source::Empty) return;
    if (now != XCB_NONE && source_ == Source::Foreign && foreignOwner_ == now && foreignTime_ == time) return;
    becomeForeign(now, time);
}

void Server::drainEvents() {
    for (;;) {
        xcb_generic_event_t* ev = nullptr;
        if (!pendingEvents_.empty()) {
            ev = pendingEvents_.front();
            pendingEvents_.pop_front();
        } else {
            ev = xcb_poll_for_event(c());
        }
        if (!ev) return;
        handleEvent(ev);
        std::free(ev);
    }
}

void Server::handleEvent(xcb_generic_event_t* ev) {
    std::uint8_t type = ev->response_type & 0x7F;
    if (type == 0) {
        // An error of a request made for a client (a vanished requestor): that transfer ends, nothing else.
        auto* error = reinterpret_cast<xcb_generic_error_t*>(ev);
        if (error->error_code == XCB_WINDOW) dropTransfers(error->resource_id);
        return;
    }
    if (type == xfixesEvent_ + XCB_XFIXES_SELECTION_NOTIFY) {
        auto* n = reinterpret_cast<xcb_xfixes_selection_notify_event_t*>(ev);
        if (n->selection == clipboard_) ownerChanged(n->owner, n->selection_timestamp);
        return;
    }
    switch (type) {
        case XCB_SELECTION_REQUEST:
            onSelectionRequest(*reinterpret_cast<xcb_selection_request_event_t*>(ev));
            break;
        case XCB_SELECTION_CLEAR:
            if (reinterpret_cast<xcb_selection_clear_event_t*>(ev)->selection == clipboard_) owning_ = false;
            break;
        case XCB_SELECTION_NOTIFY:
            onSelectionNotify(*reinterpret_cast<xcb_selection_notify_event_t*>(ev));
            break;
        case XCB_PROPERTY_NOTIFY: {
            auto* p = reinterpret_cast<xcb_property_notify_event_t*>(ev);
            if (p->window == window_)
                onOwnProperty(*p);
            else
                onRequestorProperty(*p);
            break;
        }
        case XCB_DESTROY_NOTIFY:
            dropTransfers(reinterpret_cast<xcb_destroy_notify_event_t*>(ev)->window);
            break;
        default:
            break;
    }
}

void Server::putProperty(xcb_window_t window, xcb_atom_t property, xcb_atom_t type, int format,
                         std::size_t count, const void* data) {
    xcb_change_property(c(), XCB_PROP_MODE_REPLACE, window, property, type, static_cast<std::uint8_t>(format),
                        static_cast<std::uint32_t>(count), data);
}

void Server::onSelectionRequest(const xcb_selection_request_event_t& ev) {
    xcb_atom_t property = ev.property == XCB_NONE ? ev.target : ev.property;  // an obsolete requestor
    bool current = ev.time == XCB_CURRENT_TIME || ev.time >= ownTime_;
    bool done = ev.selection == clipboard_ && ev.owner == window_ && owning_ && current &&
                convert(ev.requestor, ev.target, property, true);
    alignas(8) char buffer[32] = {};
    auto* n = reinterpret_cast<xcb_selection_notify_event_t*>(buffer);
    n->response_type = XCB_SELECTION_NOTIFY;
    n->time = ev.time;
    n->requestor = ev.requestor;
    n->selection = ev.selection;
    n->target = ev.target;
    n->property = done ? property : XCB_NONE;
    xcb_send_event(c(), 0, ev.requestor, XCB_EVENT_MASK_NO_EVENT, buffer);
    xcb_flush(c());
}

bool Server::convert(xcb_window_t requestor, xcb_atom_t target, xcb_atom_t property, bool allowMultiple) {
    if (target == targets_) {
        std::vector<xcb_atom_t> atoms = {targets_, timestamp_, multiple_};
        for (const auto& offer : offers_) atoms.push_back(x_->atom(offer.target));
        putProperty(requestor, property, XCB_ATOM_ATOM, 32, atoms.size(), atoms.data());
        return true;
    }
    if (target == timestamp_) {
        putProperty(requestor, property, XCB_ATOM_INTEGER, 32, 1, &ownTime_);
        return true;
    }
    if (target == multiple_) {
        if (!allowMultiple || property == XCB_NONE) return false;
        std::optional<Property> pairs = getProperty(*x_, requestor, property, atomPair_);
        if (!pairs || pairs->format != 32) return false;
        std::vector<std::uint32_t> list = pairs->cardinals();
        bool changed = false;
        for (std::size_t i = 0; i + 1 < list.size(); i += 2) {
            if (list[i + 1] == XCB_NONE || !convert(requestor, list[i], list[i + 1], false)) {
                list[i + 1] = XCB_NONE;
                changed = true;
            }
        }
        if (changed) putProperty(requestor, property, atomPair_, 32, list.size(), list.data());
        return true;
    }
    auto it = offerByAtom_.find(target);
    if (it == offerByAtom_.end()) return false;
    auto [owner, bytes] = offers_[it->second].answer();
    xcb_atom_t type = offerTypes_[it->second];
    if (bytes.size() <= chunk_) {
        putProperty(requestor, property, type, 8, bytes.size(), bytes.data());
        return true;
    }
    std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(c(), requestor, XCB_CW_EVENT_MASK, &mask);
    auto size = static_cast<std::uint32_t>(std::min<std::size_t>(bytes.size(), UINT32_MAX));
    putProperty(requestor, property, incr_, 32, 1, &size);
    transfers_.push_back({requestor, property, type, std::move(owner), bytes, 0, Clock::now()});
    return true;
}

void Server::onRequestorProperty(const xcb_property_notify_event_t& ev) {
    if (ev.state != XCB_PROPERTY_DELETE) return;
    for (auto it = transfers_.begin(); it != transfers_.end(); ++it) {
        if (it->requestor != ev.window || it->property != ev.atom) continue;
        std::size_t n = std::min(chunk_, it->bytes.size() - it->offset);
        putProperty(it->requestor, it->property, it->type, 8, n, it->bytes.data() + it->offset);
        it->offset += n;
        it->lastProgress = Clock::now();
        if (n == 0) {
            xcb_window_t window = it->requestor;
            transfers_.erase(it);
            bool more = false;
            for (const auto& t : transfers_) more = more || t.requestor == window;
            if (!more) {
                std::uint32_t none = 0;
                xcb_change_window_attributes(c(), window, XCB_CW_EVENT_MASK, &none);
            }
        }
        xcb_flush(c());
        return;
    }
}

void Server::dropTransfers(xcb_window_t window) {
    std::erase_if(transfers_, [&](const Transfer& t) { return t.requestor == window; });
}

void Server::startForeignRead() {
    reading_.emplace();
    reading_->time = serverTime();
    reading_->totalDeadline = Clock::now() + kForeignTotalLimit;
    requestTarget("TARGETS");
}

void Server::requestTarget(const std::string& target) {
    reading_->target = target;
    reading_->targetAtom = x_->atom(target);
    reading_->incr = false;
    reading_->incrData.clear();
    reading_->deadline = Clock::now() + kForeignReadLimit;
    xcb_delete_property(c(), window_, selectionProperty_);
    xcb_convert_selection(c(), window_, clipboard_, reading_->targetAtom, selectionProperty_, reading_->time);
    xcb_flush(c());
}

void Server::onSelectionNotify(const xcb_selection_notify_event_t& ev) {
    if (!reading_ || ev.requestor != window_ || ev.selection != clipboard_ ||
        ev.target != reading_->targetAtom || reading_->incr)
        return;
    if (ev.property == XCB_NONE) return targetRead(std::nullopt);
    std::optional<Property> p = getProperty(*x_, window_, selectionProperty_);
    xcb_delete_property(c(), window_, selectionProperty_);
    xcb_flush(c());
    if (!p) return targetRead(std::nullopt);
    if (p->type == incr_) {
        // The announced size is a lower bound; it spares most regrowth of the buffer.
        std::uint32_t hint = 0;
        if (p->bytes.size() >= 4) std::memcpy(&hint, p->bytes.data(), 4);
        reading_->incrData.reserve(std::min<std::size_t>(hint, 256u << 20));
        reading_->incr = true;
        reading_->deadline = Clock::now() + kForeignReadLimit;
        return;
    }
    if (reading_->target == "TARGETS" && p->format != 32) return targetRead(std::nullopt);
    targetRead(Bytes(p->bytes.begin(), p->bytes.end()));
}

void Server::onOwnProperty(const xcb_property_notify_event_t& ev) {
    if (!reading_ || !reading_->incr || ev.atom != selectionProperty_ || ev.state != XCB_PROPERTY_NEW_VALUE)
        return;
    std::optional<Property> p = getProperty(*x_, window_, selectionProperty_);
    xcb_delete_property(c(), window_, selectionProperty_);
    xcb_flush(c());
    if (!p) return;
    if (p->bytes.empty()) return targetRead(std::move(reading_->incrData));
    reading_->incrData.insert(reading_->incrData.end(), p->bytes.begin(), p->bytes.end());
    reading_->deadline = Clock::now() + kForeignReadLimit;
}

void Server::targetRead(std::optional<Bytes> bytes) {
    ForeignRead& r = *reading_;
    if (!r.targetsRead) {
        r.targetsRead = true;
        std::vector<std::string> names;
        if (bytes) {
            for (std::size_t i = 0; i + 4 <= bytes->size(); i += 4) {
                xcb_atom_t atom;
                std::memcpy(&atom, bytes->data() + i, 4);
                if (atom == XCB_NONE) continue;
                std::string name = x_->atomName(atom);
                if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end())
                    names.push_back(name);
            }
        }
        r.plan = foreignReadPlan(names);
        r.group = 0;
        r.alternative = 0;
        return nextTarget();
    }
    bool ok = bytes.has_value();
    r.results[r.target] = std::move(bytes);
    if (ok) {
        ++r.group;
        r.alternative = 0;
    } else {
        ++r.alternative;
    }
    nextTarget();
}

void Server::nextTarget() {
    ForeignRead& r = *reading_;
    while (r.group < r.plan.size() && r.alternative >= r.plan[r.group].size()) {
        ++r.group;
        r.alternative = 0;
    }
    if (r.group >= r.plan.size()) return finishForeignRead();
    requestTarget(r.plan[r.group][r.alternative]);
}

void Server::finishForeignRead() {
    std::int64_t count = board_->changeCount;
    board_ = std::make_shared<Board>(foreignBoard(reading_->plan, std::move(reading_->results), count));
    foreignRead_ = true;
    reading_.reset();
}

void Server::checkTimeouts() {
    auto now = Clock::now();
    if (reading_ && (now >= reading_->deadline || now >= reading_->totalDeadline)) {
        // A stalled owner: what was read stays, the rest of its offer is listed without data.
        if (!reading_->targetsRead) {
            reading_->targetsRead = true;
            finishForeignRead();
        } else {
            reading_->results[reading_->target] = std::nullopt;
            finishForeignRead();
        }
    }
    std::erase_if(transfers_, [&](const Transfer& t) { return now - t.lastProgress > kTransferIdleLimit; });
}

int Server::pollTimeoutMs() const {
    auto now = Clock::now();
    Clock::time_point next = now + std::chrono::seconds(1);
    if (reading_) next = std::min({next, reading_->deadline, reading_->totalDeadline});
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count();
    return ms < 0 ? 0 : static_cast<int>(ms) + 1;
}

void Server::acceptClients() {
    for (;;) {
        int fd = ::accept4(listen_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;
        ucred cred{};
        socklen_t len = sizeof cred;
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || cred.uid != ::getuid()) {
            ::close(fd);
            continue;
        }
        clients_[nextClient_++].fd = fd;
    }
}

void Server::readClient(int id, ClientConnection& client) {
    char buffer[65536];
    for (;;) {
        iovec iov{buffer, sizeof buffer};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 4)];
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        ssize_t n = ::recvmsg(client.fd, &msg, MSG_CMSG_CLOEXEC | MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) break;
        if (n <= 0) {
            client.dead = true;
            return;
        }
        for (cmsghdr* cm = CMSG_FIRSTHDR(&msg); cm; cm = CMSG_NXTHDR(&msg, cm)) {
            if (cm->cmsg_level != SOL_SOCKET || cm->cmsg_type != SCM_RIGHTS) continue;
            std::size_t count = (cm->cmsg_len - CMSG_LEN(0)) / sizeof(int);
            for (std::size_t i = 0; i < count; ++i) {
                int fd;
                std::memcpy(&fd, CMSG_DATA(cm) + i * sizeof(int), sizeof fd);
                client.fds.push_back(fd);
            }
        }
        client.in.append(buffer, static_cast<std::size_t>(n));
    }
    while (client.in.size() >= sizeof(MessageHeader)) {
        MessageHeader h;
        std::memcpy(&h, client.in.data(), sizeof h);
        if (h.metaSize > kMaxMetaSize || h.metaSize == 0 || (!h.bulkInFd && h.bulkSize > kInlineBulkLimit)) {
            client.dead = true;
            return;
        }
        std::size_t need = sizeof h + h.metaSize + (h.bulkInFd ? 0 : h.bulkSize);
        if (client.in.size() < need) return;
        int fd = -1;
        if (h.bulkInFd) {
            if (client.fds.empty()) {
                client.dead = true;
                return;
            }
            fd = client.fds.front();
            client.fds.pop_front();
            // Only a memory file of the announced size is read (never a pipe that could block the loop).
            struct stat st;
            if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
                static_cast<std::uint64_t>(st.st_size) < h.bulkSize) {
                ::close(fd);
                client.dead = true;
                return;
            }
        }
        std::string meta = client.in.substr(sizeof h, h.metaSize);
        std::string bulk = client.in.substr(sizeof h + h.metaSize, h.bulkInFd ? 0 : h.bulkSize);
        client.in.erase(0, need);
        auto op = static_cast<Op>(static_cast<std::uint8_t>(meta[0]));
        requests_.push_back({id, op, std::make_unique<MessageReader>(std::move(meta), std::move(bulk), fd)});
    }
}

void Server::writeClient(ClientConnection& client) {
    while (!client.out.empty()) {
        auto& o = client.out.front();
        iovec iov{o.bytes.data() + o.sent, o.bytes.size() - o.sent};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
        if (o.sent == 0 && o.fd >= 0) {
            msg.msg_control = control;
            msg.msg_controllen = sizeof control;
            cmsghdr* cm = CMSG_FIRSTHDR(&msg);
            cm->cmsg_level = SOL_SOCKET;
            cm->cmsg_type = SCM_RIGHTS;
            cm->cmsg_len = CMSG_LEN(sizeof(int));
            std::memcpy(CMSG_DATA(cm), &o.fd, sizeof(int));
        }
        ssize_t n = ::sendmsg(client.fd, &msg, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) return;
        if (n <= 0) {
            client.dead = true;
            return;
        }
        if (o.sent == 0 && o.fd >= 0) {
            ::close(o.fd);
            o.fd = -1;
        }
        o.sent += static_cast<std::size_t>(n);
        if (o.sent == o.bytes.size()) client.out.pop_front();
    }
}

void Server::reply(int id, const MessageWriter& message) {
    auto it = clients_.find(id);
    if (it == clients_.end() || it->second.dead) return;
    std::optional<EncodedMessage> encoded = encodeMessage(message);
    if (!encoded) {
        MessageWriter failed;
        failed.u8(0);
        encoded = encodeMessage(failed);
    }
    it->second.out.push_back({std::move(encoded->bytes), 0, encoded->fd});
    writeClient(it->second);
}

void Server::processRequests() {
    while (!requests_.empty()) {
        Request& r = requests_.front();
        bool needsBoard = r.op == Op::Snapshot || r.op == Op::WriteObjects || r.op == Op::CarbonPut;
        if (needsBoard && source_ == Source::Foreign && !foreignRead_) {
            if (!reading_) startForeignRead();
            if (!foreignRead_) return;  // the requests wait, in order, until the offer is read
        }
        answer(r);
        requests_.pop_front();
    }
}

void Server::answer(Request& request) {
    MessageReader& in = *request.message;
    in.u8();  // the operation
    MessageWriter out;
    switch (request.op) {
        case Op::Snapshot:
            out.u8(1);
            out.board(*board_);
            break;
        case Op::ChangeCount:
            out.u8(1);
            out.i64(board_->changeCount);
            break;
        case Op::Clear: {
            std::int64_t count = board_->changeCount;
            offers_.clear();
            offerByAtom_.clear();
            offerTypes_.clear();
            board_ = std::make_shared<Board>();
            board_->changeCount = count;
            clearBoard(*board_);
            afterChange(true);
            out.u8(1);
            out.i64(board_->changeCount);
            break;
        }
        case Op::WriteObjects: {
            bool hasToken = in.u8() != 0;
            std::int64_t token = in.i64();
            std::uint32_t count = in.u32();
            std::vector<std::vector<Representation>> items;
            for (std::uint32_t i = 0; i < count && in.ok(); ++i) {
                auto reps = in.representations();
                if (!reps) break;
                items.push_back(std::move(*reps));
            }
            if (!in.ok() || items.size() != count) {
                out.u8(0);
                break;
            }
            bool took = (!hasToken || token == board_->changeCount) && !items.empty() &&
                        appendItems(changeBoard(), std::move(items));
            afterChange(took);
            out.u8(1);
            out.u8(took ? 1 : 0);
            out.i64(board_->changeCount);
            break;
        }
        case Op::CarbonPut: {
            bool hasToken = in.u8() != 0;
            std::int64_t token = in.i64();
            PasteboardItemID item = in.u64();
            auto reps = in.representations();
            if (!in.ok() || !reps || reps->size() != 1) {
                out.u8(0);
                break;
            }
            OSStatus status = hasToken && token != board_->changeCount
                                  ? notPasteboardOwnerErr
                                  : putCarbonFlavor(changeBoard(), item, std::move(reps->front()));
            afterChange(status == noErr);
            out.u8(1);
            out.u32(static_cast<std::uint32_t>(status));
            out.i64(board_->changeCount);
            break;
        }
        case Op::Load: {
            bool hasCount = in.u8() != 0;
            std::int64_t count = in.i64();
            std::optional<Board> loaded = in.board();
            if (!in.ok() || !loaded) {
                out.u8(0);
                break;
            }
            // The change count never goes back within the X session.
            std::int64_t next = board_->changeCount + 1;
            loaded->changeCount = hasCount ? std::max(count, next) : next;
            offers_.clear();
            offerByAtom_.clear();
            offerTypes_.clear();
            board_ = std::make_shared<Board>(std::move(*loaded));
            afterChange(true);
            out.u8(1);
            out.i64(board_->changeCount);
            break;
        }
        case Op::Info:
            out.u8(1);
            out.i64(::getpid());
            out.u64(boardByteCount(*board_));
            break;
        default:
            out.u8(0);
            break;
    }
    reply(request.client, out);
}

int Server::run() {
    for (;;) {
        drainEvents();
        if (xcb_connection_has_error(c())) return 0;
        checkTimeouts();
        processRequests();
        xcb_flush(c());
        if (xcb_connection_has_error(c())) return 0;

        std::vector<pollfd> fds;
        fds.push_back({xcb_get_file_descriptor(c()), POLLIN, 0});
        fds.push_back({listen_, POLLIN, 0});
        std::vector<int> ids;
        for (auto& [id, client] : clients_) {
            short events = POLLIN;
            if (!client.out.empty()) events |= POLLOUT;
            fds.push_back({client.fd, events, 0});
            ids.push_back(id);
        }
        // Events already read into xcb's queue must not wait for the descriptor.
        if (!pendingEvents_.empty()) continue;
        if (xcb_generic_event_t* ev = xcb_poll_for_queued_event(c())) {
            pendingEvents_.push_back(ev);
            continue;
        }
        int ready = ::poll(fds.data(), fds.size(), pollTimeoutMs());
        if (ready < 0 && errno != EINTR) return 1;
        if (fds[0].revents & (POLLHUP | POLLERR)) return 0;
        if (fds[1].revents & POLLIN) acceptClients();
        for (std::size_t i = 0; i < ids.size(); ++i) {
            auto it = clients_.find(ids[i]);
            if (it == clients_.end()) continue;
            if (fds[i + 2].revents & (POLLIN | POLLHUP | POLLERR)) readClient(ids[i], it->second);
            if (fds[i + 2].revents & POLLOUT) writeClient(it->second);
        }
        for (auto it = clients_.begin(); it != clients_.end();) {
            if (!it->second.dead) {
                ++it;
                continue;
            }
            ::close(it->second.fd);
            for (int fd : it->second.fds) ::close(fd);
            for (auto& o : it->second.out)
                if (o.fd >= 0) ::close(o.fd);
            it = clients_.erase(it);
        }
    }
}

int listenOn(const std::filesystem::path& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::string p = path.string();
    if (p.size() >= sizeof addr.sun_path) return -1;
    std::copy(p.begin(), p.end(), addr.sun_path);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    ::unlink(p.c_str());  // a dead server's socket; the lock says none is alive
    mode_t old = ::umask(0177);
    bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::umask(old);
    if (!bound || ::listen(fd, 128) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

int runPasteboardServer(const std::string& displayName) {
    std::string reason;
    std::optional<std::filesystem::path> folder = socketFolder(reason);
    if (!folder) return 1;
    std::filesystem::path socketPath = *folder / socketName(displayName);
    std::filesystem::path lockPath = socketPath.string() + ".lock";
    int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lock < 0) return 1;
    if (::flock(lock, LOCK_EX | LOCK_NB) != 0) return 0;  // another server serves this display
    std::unique_ptr<Connection> x = Connection::open(displayName.c_str());
    if (!x) return 1;
    int listenFd = listenOn(socketPath);
    if (listenFd < 0) return 1;
    Server server(std::move(x), listenFd);
    int status = server.start() ? server.run() : 1;
    ::unlink(socketPath.c_str());
    return status;
}

}  // namespace platform::x11
