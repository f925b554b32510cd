#include "platform/x11/screen_capture.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <xcb/xfixes.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/large_buffer.h"
#include "platform/x11/capture_pixels.h"
#include "platform/x11/capture_windows.h"
#include "platform/x11/composite_exclusion.h"
#include "platform/x11/connection.h"

namespace platform::x11 {
namespace {

// Larger frames than this many pixels are refused rather than allocated.
constexpr std::int64_t kMaxPixels = std::int64_t{1} << 26;
// Frames a stream output may have waiting on its queue before the stream skips frames for it.
constexpr int kQueueDepth = 3;
// After the windows are redirected, their clients repaint what was covered: the capture waits until
// the screen has been quiet this long, at most the limit.
constexpr std::chrono::milliseconds kSettleQuiet{60};
constexpr std::chrono::milliseconds kSettleLimit{600};

const char* describe(CaptureErrorCode code) {
    switch (code) {
        case CaptureErrorCode::DisplayUnreachable:
            return "display_unreachable";
        case CaptureErrorCode::NoSuchDisplay:
            return "no_such_display";
        case CaptureErrorCode::InvalidFrameSize:
            return "invalid_frame_size";
        case CaptureErrorCode::ExclusionNeedsComposite:
            return "window_exclusion_requires_composite";
        case CaptureErrorCode::ReadFailed:
            return "display_read_failed";
        case CaptureErrorCode::DisplayConnectionLost:
            return "display_connection_lost";
        case CaptureErrorCode::StreamAlreadyRunning:
            return "stream_already_running";
        case CaptureErrorCode::StreamNotRunning:
            return "stream_not_running";
        case CaptureErrorCode::InvalidOutput:
            return "invalid_output";
    }
    return "capture_failed";
}

bool connectionLost(Connection& c) {
    return xcb_connection_has_error(c.xcb()) != 0;
}

// Draws the pointer's cursor image (XFixes) into a frame whose top-left pixel is root (originX, originY).
void drawCursor(Connection& c, Bitmap& frame, int originX, int originY) {
    xcb_xfixes_get_cursor_image_reply_t* cursor =
        xcb_xfixes_get_cursor_image_reply(c.xcb(), xcb_xfixes_get_cursor_image(c.xcb()), nullptr);
    if (!cursor) return;
    const std::uint32_t* pixels = xcb_xfixes_get_cursor_image_cursor_image(cursor);
    int left = cursor->x - cursor->xhot - originX, top = cursor->y - cursor->yhot - originY;
    for (int y = 0; y < cursor->height; ++y) {
        int fy = top + y;
        if (fy < 0 || fy >= frame.height) continue;
        for (int x = 0; x < cursor->width; ++x) {
            int fx = left + x;
            if (fx < 0 || fx >= frame.width) continue;
            std::uint32_t argb = pixels[static_cast<std::size_t>(y) * cursor->width + x];
            std::uint32_t a = argb >> 24;
            if (a == 0) continue;
            std::uint8_t* p = frame.rgba.data() + (static_cast<std::size_t>(fy) * frame.width + fx) * 4;
            // Premultiplied colour over the frame.
            for (int i = 0; i < 3; ++i) {
                std::uint32_t s = (argb >> (16 - 8 * i)) & 0xFF;
                p[i] = static_cast<std::uint8_t>(
                    std::min<std::uint32_t>(255, s + (p[i] * (255 - a) + 127) / 255));
            }
        }
    }
    std::free(cursor);
}

// Frames of one display on one connection: the monitor's root pixels (with excluded windows left out
// and the cursor drawn where asked), at the configured size.
class DisplayGrabber {
  public:
    DisplayGrabber(Connection& c, SCContentFilter filter, SCStreamConfiguration configuration)
        : c_(c),
          filter_(std::move(filter)),
          configuration_(configuration),
          reader_(c.xcb()),
          compositor_(c, reader_) {}

    // Finds the display and readies what the filter needs; the error that prevents capturing otherwise.
    std::optional<ErrorObject> prepare() {
        if (connectionLost(c_)) return captureError(CaptureErrorCode::DisplayConnectionLost);
        bool found = false;
        for (const Monitor& m : monitors(c_)) {
            if (m.id != filter_.display.displayID) continue;
            area_ = PixelRect{m.x, m.y, m.width, m.height};
            found = true;
            break;
        }
        if (!found) return captureError(CaptureErrorCode::NoSuchDisplay);
        // A source rectangle narrows the read to its whole pixels (points are pixels here).
        const CGRect& source = configuration_.sourceRect;
        if (source.width > 0 && source.height > 0) {
            CGRect display{0, 0, static_cast<double>(area_.width), static_cast<double>(area_.height)};
            CGRect part = CGRectIntersection(CGRectIntegral(CGRectIntersection(source, display)), display);
            if (!(part.width >= 1 && part.height >= 1))
                return captureError(CaptureErrorCode::InvalidFrameSize);
            area_ = PixelRect{area_.x + static_cast<int>(part.x), area_.y + static_cast<int>(part.y),
                              static_cast<int>(part.width), static_cast<int>(part.height)};
        }
        width_ = configuration_.width > 0 ? configuration_.width : area_.width;
        height_ = configuration_.height > 0 ? configuration_.height : area_.height;
        if (area_.empty() || width_ <= 0 || height_ <= 0 || width_ > kMaxPixels / height_ ||
            area_.width > kMaxPixels / area_.height)
            return captureError(CaptureErrorCode::InvalidFrameSize);
        format_ = pixelFormatOf(xcb_get_setup(c_.xcb()), c_.screen(), c_.screen()->root_depth);
        if (!format_) return captureError(CaptureErrorCode::ReadFailed);
        for (const SCWindow& w : filter_.excludingWindows) excluded_.push_back(w.windowID);
        if (!excluded_.empty()) {
            if (!compositor_.available() || !compositor_.redirect())
                return captureError(CaptureErrorCode::ExclusionNeedsComposite);
            redirected_ = true;
        }
        cursor_ = configuration_.showsCursor && hasXfixes(c_);
        return std::nullopt;
    }

    // Whether the windows were redirected, so that their clients repaint what was covered.
    bool redirected() const { return redirected_; }
    const PixelRect& area() const { return area_; }
    bool drawsCursor() const { return cursor_; }

    Result<Bitmap> grab() {
        PixelRect root{0, 0, c_.screen()->width_in_pixels, c_.screen()->height_in_pixels};
        PixelRect visible = intersect(area_, root);
        // Black where the area leaves the screen; a frame that the read covers whole needs no filling.
        Bitmap frame;
        if (visible.x == area_.x && visible.y == area_.y && visible.width == area_.width &&
            visible.height == area_.height) {
            frame.width = area_.width;
            frame.height = area_.height;
            std::size_t bytes =
                static_cast<std::size_t>(area_.width) * static_cast<std::size_t>(area_.height) * 4;
            reserveLarge(frame.rgba, bytes);
            frame.rgba.resize(bytes);
        } else {
            frame = blackBitmap(area_.width, area_.height);
        }
        if (!visible.empty() &&
            !reader_.read(c_.root(), visible.x, visible.y, visible.width, visible.height, *format_,
                          Paint::Copy, frame, visible.x - area_.x, visible.y - area_.y))
            return failure();
        if (!excluded_.empty() && !compositor_.apply(frame, area_.x, area_.y, excluded_)) return failure();
        if (cursor_) drawCursor(c_, frame, area_.x, area_.y);
        if (frame.width != width_ || frame.height != height_)
            return resampled(frame, static_cast<int>(width_), static_cast<int>(height_));
        return frame;
    }

  private:
    ErrorObject failure() {
        return captureError(connectionLost(c_) ? CaptureErrorCode::DisplayConnectionLost
                                               : CaptureErrorCode::ReadFailed);
    }

    Connection& c_;
    SCContentFilter filter_;
    SCStreamConfiguration configuration_;
    ImageReader reader_;
    ExclusionCompositor compositor_;
    PixelRect area_;
    std::int64_t width_ = 0, height_ = 0;
    std::optional<PixelFormat> format_;
    std::vector<xcb_window_t> excluded_;
    bool redirected_ = false;
    bool cursor_ = false;
};

SCShareableContent shareableContent(Connection& c, bool excludingDesktopWindows, bool onScreenWindowsOnly) {
    SCShareableContent content;
    for (const Monitor& m : monitors(c)) content.displays.push_back(SCDisplay{m.id, m.width, m.height});
    std::vector<TopLevel> tops = topLevels(c);
    // Front to back, as the window server lists windows.
    for (auto it = tops.rbegin(); it != tops.rend(); ++it) {
        const TopLevel& t = *it;
        if (t.inputOnly) continue;
        if (t.client) {
            if (onScreenWindowsOnly && (!t.viewable || isHiddenWindow(c, t.client))) continue;
            if (excludingDesktopWindows && isDesktopWindow(c, t.client)) continue;
            content.windows.push_back(SCWindow{t.client});
        } else if (t.viewable) {
            // Menus, tooltips and overlays the window manager does not manage, and every shown window
            // of a display without a window manager.
            content.windows.push_back(SCWindow{t.window});
        }
    }
    return content;
}

class X11Stream : public SCStream {
  public:
    X11Stream(SCContentFilter filter, SCStreamConfiguration configuration)
        : filter_(std::move(filter)), configuration_(configuration), state_(std::make_shared<State>()) {}

    ~X11Stream() override { halt(); }

    std::optional<ErrorObject> addStreamOutput(std::shared_ptr<SCStreamOutput> output,
                                               SCStreamOutputType type, SerialQueue queue) override {
        if (!output) return captureError(CaptureErrorCode::InvalidOutput);
        std::lock_guard lock(state_->mutex);
        state_->outputs.push_back(
            Output{std::move(output), type, std::move(queue), std::make_shared<std::atomic<int>>(0)});
        return std::nullopt;
    }

    void startCapture(std::function<void(std::optional<ErrorObject>)> completion) override {
        // Starts and stops take turns, so that a second start can never replace a running thread.
        std::lock_guard turn(lifecycle_);
        {
            std::lock_guard lock(state_->mutex);
            if (state_->running) {
                detachTask([completion = std::move(completion)] {
                    completion(captureError(CaptureErrorCode::StreamAlreadyRunning));
                });
                return;
            }
            state_->running = true;
            state_->stopRequested = false;
        }
        // The thread of a start that failed, or of a stream that lost its display, has ended.
        if (producer_.joinable()) producer_.join();
        closeWake();
        if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) wake_[0] = wake_[1] = -1;
        // The stream's own thread sets up, answers the start, then delivers frames: none before the
        // completion.
        producer_ =
            std::thread([this, completion = std::move(completion)]() mutable { run(std::move(completion)); });
    }

    void stopCapture(std::function<void(std::optional<ErrorObject>)> completion) override {
        bool wasRunning = halt();
        std::optional<ErrorObject> error;
        if (!wasRunning) error = captureError(CaptureErrorCode::StreamNotRunning);
        detachTask([completion = std::move(completion), error] { completion(error); });
    }

    std::optional<ErrorObject> stoppedWithError() const override {
        std::lock_guard lock(state_->mutex);
        return state_->lost;
    }

  private:
    struct Output {
        std::shared_ptr<SCStreamOutput> output;
        SCStreamOutputType type;
        SerialQueue queue;
        std::shared_ptr<std::atomic<int>> waiting;  // frames submitted to its queue and not yet handled
    };

    struct State {
        mutable std::mutex mutex;
        std::vector<Output> outputs;
        bool running = false;
        bool stopRequested = false;
        std::optional<ErrorObject> lost;
    };

    void run(std::function<void(std::optional<ErrorObject>)> completion) {
        // A connection of the stream's own: its events (Damage) are read here, and the redirection of
        // the windows ends with it.
        std::unique_ptr<Connection> c =
            Connection::open(display() ? display()->displayName().c_str() : nullptr);
        if (!c) return fail(std::move(completion), captureError(CaptureErrorCode::DisplayUnreachable));
        DisplayGrabber grabber(*c, filter_, configuration_);
        if (auto e = grabber.prepare()) return fail(std::move(completion), *e);
        DamageWatch damage(*c);
        if (grabber.redirected()) damage.settle(kSettleQuiet, kSettleLimit);
        completion(std::nullopt);
        produce(*c, grabber, damage);
    }

    void fail(std::function<void(std::optional<ErrorObject>)> completion, ErrorObject error) {
        {
            std::lock_guard lock(state_->mutex);
            state_->running = false;
        }
        completion(error);
    }

    bool stopRequested() const {
        std::lock_guard lock(state_->mutex);
        return state_->stopRequested;
    }

    void loseDisplay() {
        std::lock_guard lock(state_->mutex);
        if (!state_->stopRequested) state_->lost = captureError(CaptureErrorCode::DisplayConnectionLost);
        state_->running = false;
    }

    void deliver(const std::shared_ptr<const Bitmap>& image) {
        std::lock_guard lock(state_->mutex);
        if (state_->stopRequested) return;
        CMSampleBuffer sample{image};
        for (const Output& o : state_->outputs) {
            if (o.type != SCStreamOutputType::Screen || o.waiting->load() >= kQueueDepth) continue;
            ++*o.waiting;
            o.queue.async([output = o.output, waiting = o.waiting, sample] {
                output->didOutputSampleBuffer(sample, SCStreamOutputType::Screen);
                --*waiting;
            });
        }
    }

    // Waits until `until`, a stop request or the loss of the display, whichever comes first; false
    // when the stream is to end.
    bool waitUntil(Connection& c, DamageWatch& damage, std::chrono::steady_clock::time_point until) {
        for (;;) {
            if (stopRequested()) return false;
            if (connectionLost(c)) return false;
            auto now = std::chrono::steady_clock::now();
            if (now >= until) return true;
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count() + 1;
            pollfd fds[2] = {{xcb_get_file_descriptor(c.xcb()), POLLIN, 0}, {wake_[0], POLLIN, 0}};
            ::poll(fds, wake_[0] >= 0 ? 2 : 1, static_cast<int>(std::min<long long>(left, 100)));
            // Reading the connection notices a server that went away, and keeps the damage.
            if (fds[0].revents) damage.collect();
        }
    }

    void produce(Connection& c, DisplayGrabber& grabber, DamageWatch& damage) {
        const auto interval = frameInterval(configuration_.minimumFrameInterval);
        std::shared_ptr<const Bitmap> last;
        auto next = std::chrono::steady_clock::now();
        for (;;) {
            // An unchanged display (and no cursor to follow) reuses the last frame.
            bool changed = !last || grabber.drawsCursor() || damage.changed(grabber.area());
            if (changed) {
                Result<Bitmap> frame = grabber.grab();
                if (auto* image = std::get_if<Bitmap>(&frame)) {
                    last = std::make_shared<const Bitmap>(std::move(*image));
                } else if (connectionLost(c)) {
                    return loseDisplay();
                }
            }
            if (last) deliver(last);
            // Never two frames closer than the interval, even when this thread was late.
            next = std::max(next + interval, std::chrono::steady_clock::now());
            if (!waitUntil(c, damage, next)) {
                if (connectionLost(c)) loseDisplay();
                return;
            }
        }
    }

    // Ends frame delivery; true when the stream was running.
    bool halt() {
        std::lock_guard turn(lifecycle_);
        {
            std::lock_guard lock(state_->mutex);
            state_->stopRequested = true;
        }
        if (wake_[1] >= 0) {
            char byte = 1;
            [[maybe_unused]] ssize_t n = ::write(wake_[1], &byte, 1);
        }
        if (producer_.joinable()) producer_.join();
        closeWake();
        std::lock_guard lock(state_->mutex);
        bool wasRunning = state_->running;
        state_->running = false;
        return wasRunning;
    }

    void closeWake() {
        for (int& fd : wake_) {
            if (fd >= 0) ::close(fd);
            fd = -1;
        }
    }

    SCContentFilter filter_;
    SCStreamConfiguration configuration_;
    std::shared_ptr<State> state_;
    std::mutex lifecycle_;
    std::thread producer_;
    int wake_[2] = {-1, -1};
};

}  // namespace

ErrorObject captureError(CaptureErrorCode code) {
    return ErrorObject{kCaptureErrorDomain, static_cast<std::int64_t>(code), describe(code)};
}

bool screenCaptureAvailable() {
    Connection* c = display();
    return c && !connectionLost(*c);
}

void getShareableContent(bool excludingDesktopWindows, bool onScreenWindowsOnly,
                         std::function<void(Result<SCShareableContent>)> completion) {
    detachTask([excludingDesktopWindows, onScreenWindowsOnly, completion = std::move(completion)] {
        Connection* c = display();
        if (!c || connectionLost(*c)) return completion(captureError(CaptureErrorCode::DisplayUnreachable));
        SCShareableContent content = shareableContent(*c, excludingDesktopWindows, onScreenWindowsOnly);
        if (connectionLost(*c)) return completion(captureError(CaptureErrorCode::DisplayConnectionLost));
        completion(std::move(content));
    });
}

void captureImage(const SCContentFilter& filter, const SCStreamConfiguration& configuration,
                  std::function<void(Result<Bitmap>)> completion) {
    detachTask([filter, configuration, completion = std::move(completion)] {
        Connection* shared = display();
        if (!shared || connectionLost(*shared))
            return completion(captureError(CaptureErrorCode::DisplayUnreachable));
        // Leaving windows out redirects them: on a connection of its own, so that the redirection
        // ends with the capture.
        std::unique_ptr<Connection> own;
        if (!filter.excludingWindows.empty()) {
            own = Connection::open(shared->displayName().c_str());
            if (!own) return completion(captureError(CaptureErrorCode::DisplayUnreachable));
        }
        Connection& c = own ? *own : *shared;
        DisplayGrabber grabber(c, filter, configuration);
        if (auto e = grabber.prepare()) return completion(*e);
        if (grabber.redirected()) DamageWatch(c).settle(kSettleQuiet, kSettleLimit);
        completion(grabber.grab());
    });
}

std::unique_ptr<SCStream> makeStream(const SCContentFilter& filter,
                                     const SCStreamConfiguration& configuration) {
    return std::make_unique<X11Stream>(filter, configuration);
}

Bitmap resampled(const Bitmap& source, int width, int height) {
    Bitmap out;
    out.width = width;
    out.height = height;
    out.rgba.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
    if (source.width <= 0 || source.height <= 0) return blackBitmap(width, height);
    for (int y = 0; y < height; ++y) {
        int sy = static_cast<int>((static_cast<std::int64_t>(y) * source.height) / height);
        for (int x = 0; x < width; ++x) {
            int sx = static_cast<int>((static_cast<std::int64_t>(x) * source.width) / width);
            const std::uint8_t* s =
                source.rgba.data() + (static_cast<std::size_t>(sy) * source.width + sx) * 4;
            std::uint8_t* d = out.rgba.data() + (static_cast<std::size_t>(y) * width + x) * 4;
            std::copy(s, s + 4, d);
        }
    }
    return out;
}

}  // namespace platform::x11
