#include "platform/sandbox/screen_capture.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/sandbox/environment.h"
#include "platform/sandbox/test_pattern.h"

namespace platform::sandbox {
namespace {

// The sandbox's own failures (not injected ones) use this domain.
constexpr const char* kSandboxDomain = "SSPSandboxCaptureErrorDomain";
// Larger captures than this many pixels are refused rather than allocated.
constexpr std::int64_t kMaxPixels = std::int64_t{1} << 26;
// Frames a stream output may have waiting on its queue before the stream skips frames for it.
constexpr int kQueueDepth = 3;

ErrorObject sandboxError(std::int64_t code, std::string description) {
    return ErrorObject{kSandboxDomain, code, std::move(description)};
}

// ERROR = {"domain", "code", "description"}; anything but an object is no error.
std::optional<ErrorObject> errorFrom(const Value* v) {
    if (!v || !v->asDictionary()) return std::nullopt;
    ErrorObject e;
    if (const Value* d = v->find("domain"); d && d->asString()) e.domain = *d->asString();
    if (const Value* c = v->find("code")) {
        if (auto n = c->asInteger()) e.code = *n;
    }
    if (const Value* d = v->find("description"); d && d->asString()) e.localizedDescription = *d->asString();
    return e;
}

std::chrono::milliseconds delayFrom(const Value* entry) {
    const Value* d = entry ? entry->find("delayMs") : nullptr;
    auto n = d ? d->asNumber() : std::nullopt;
    if (!n || !(*n > 0)) return std::chrono::milliseconds(0);
    return std::chrono::milliseconds(static_cast<std::int64_t>(std::min(*n, 1e9)));
}

// Answers on a thread of its own, after the delay.
void answerLater(std::chrono::milliseconds delay, std::function<void()> answer) {
    detachTask([delay, answer = std::move(answer)] {
        if (delay.count() > 0) std::this_thread::sleep_for(delay);
        answer();
    });
}

const Value* shareable() {
    return desktop().find("shareable");
}

const Array* arrayAt(const Value* v, const char* key) {
    const Value* a = v ? v->find(key) : nullptr;
    return a ? a->asArray() : nullptr;
}

std::optional<std::uint32_t> uint32From(const Value* v) {
    auto n = v ? v->asInteger() : std::nullopt;
    if (!n || *n < 0 || *n > 0xFFFFFFFFLL) return std::nullopt;
    return static_cast<std::uint32_t>(*n);
}

// The shareable display entries with a valid id, in order.
std::vector<std::pair<SCDisplay, const Value*>> displayEntries() {
    std::vector<std::pair<SCDisplay, const Value*>> list;
    const Array* a = arrayAt(shareable(), "displays");
    if (!a) return list;
    for (const Value& entry : *a) {
        auto id = uint32From(entry.find("displayID"));
        if (!id) continue;
        SCDisplay d;
        d.displayID = *id;
        auto dimension = [&](const char* key) -> std::int64_t {
            const Value* v = entry.find(key);
            auto n = v ? v->asNumber() : std::nullopt;
            return n && *n > 0 && *n < 1e9 ? static_cast<std::int64_t>(*n) : 0;
        };
        d.width = dimension("width");
        d.height = dimension("height");
        list.emplace_back(d, &entry);
    }
    return list;
}

const Value* displayEntry(CGDirectDisplayID id) {
    for (const auto& [display, entry] : displayEntries()) {
        if (display.displayID == id) return entry;
    }
    return nullptr;
}

Bitmap fitToSize(const Bitmap& source, int width, int height);

// The captured image of the filter's display at the configured size (the display's own size where the
// configuration gives none), or the error that replaces it.
Result<Bitmap> renderDisplay(const SCContentFilter& filter, const SCStreamConfiguration& configuration) {
    std::int64_t width = configuration.width > 0 ? configuration.width : filter.display.width;
    std::int64_t height = configuration.height > 0 ? configuration.height : filter.display.height;
    if (width <= 0 || height <= 0 || width > kMaxPixels / height)
        return sandboxError(1, "invalid_frame_size");
    const CGRect& source = configuration.sourceRect;
    if (!(source.width > 0 && source.height > 0)) {
        auto image = displayImage(displayEntry(filter.display.displayID), filter.display.displayID,
                                  static_cast<int>(width), static_cast<int>(height));
        if (!image) return sandboxError(2, "display_image_unreadable");
        return std::move(*image);
    }
    // A part of the display: its whole pixels out of the display's image, at the configured size.
    std::int64_t displayWidth = filter.display.width, displayHeight = filter.display.height;
    if (displayWidth <= 0 || displayHeight <= 0 || displayWidth > kMaxPixels / displayHeight)
        return sandboxError(1, "invalid_frame_size");
    CGRect bounds{0, 0, static_cast<double>(displayWidth), static_cast<double>(displayHeight)};
    CGRect part = CGRectIntersection(CGRectIntegral(CGRectIntersection(source, bounds)), bounds);
    if (!(part.width >= 1 && part.height >= 1)) return sandboxError(1, "invalid_frame_size");
    auto whole = displayImage(displayEntry(filter.display.displayID), filter.display.displayID,
                              static_cast<int>(displayWidth), static_cast<int>(displayHeight));
    if (!whole) return sandboxError(2, "display_image_unreadable");
    Bitmap cut;
    cut.width = static_cast<int>(part.width);
    cut.height = static_cast<int>(part.height);
    cut.rgba.resize(static_cast<std::size_t>(cut.width) * static_cast<std::size_t>(cut.height) * 4);
    for (int y = 0; y < cut.height; ++y) {
        std::memcpy(cut.rgba.data() + static_cast<std::size_t>(y) * cut.width * 4,
                    whole->rgba.data() + ((static_cast<std::size_t>(part.y) + y) * whole->width +
                                          static_cast<std::size_t>(part.x)) * 4,
                    static_cast<std::size_t>(cut.width) * 4);
    }
    if (cut.width == width && cut.height == height) return cut;
    return fitToSize(cut, static_cast<int>(width), static_cast<int>(height));
}

Bitmap fitToSize(const Bitmap& source, int width, int height) {
    Bitmap out;
    out.width = width;
    out.height = height;
    out.rgba.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4, 0);
    for (std::size_t i = 3; i < out.rgba.size(); i += 4) out.rgba[i] = 255;
    int rows = std::min(height, source.height);
    int columns = std::min(width, source.width);
    for (int y = 0; y < rows; ++y) {
        std::memcpy(out.rgba.data() + static_cast<std::size_t>(y) * width * 4,
                    source.rgba.data() + static_cast<std::size_t>(y) * source.width * 4,
                    static_cast<std::size_t>(columns) * 4);
    }
    return out;
}

class SandboxStream : public SCStream {
  public:
    SandboxStream(SCContentFilter filter, SCStreamConfiguration configuration)
        : filter_(std::move(filter)), configuration_(configuration), state_(std::make_shared<State>()) {}

    ~SandboxStream() override { halt(); }

    std::optional<ErrorObject> addStreamOutput(std::shared_ptr<SCStreamOutput> output,
                                               SCStreamOutputType type, SerialQueue queue) override {
        if (auto e = errorFrom(streamFaults("addOutputError"))) return e;
        if (!output) return sandboxError(3, "invalid_output");
        std::lock_guard lock(state_->mutex);
        state_->outputs.push_back(
            Output{std::move(output), type, std::move(queue), std::make_shared<std::atomic<int>>(0)});
        return std::nullopt;
    }

    void startCapture(std::function<void(std::optional<ErrorObject>)> completion) override {
        // Starts and stops take turns, so that a second start can never replace a running thread.
        std::lock_guard turn(lifecycle_);
        std::optional<ErrorObject> error = errorFrom(streamFaults("startError"));
        if (!error) {
            std::lock_guard lock(state_->mutex);
            if (state_->running) error = sandboxError(4, "stream_already_running");
        }
        std::shared_ptr<const Bitmap> image;
        if (!error) {
            Result<Bitmap> frame = renderDisplay(filter_, configuration_);
            if (auto* e = std::get_if<ErrorObject>(&frame)) {
                error = *e;
            } else {
                image = std::make_shared<const Bitmap>(std::move(std::get<Bitmap>(frame)));
            }
        }
        if (error) {
            answerLater(std::chrono::milliseconds(0),
                        [completion = std::move(completion), error] { completion(error); });
            return;
        }
        std::lock_guard lock(state_->mutex);
        state_->running = true;
        state_->stopRequested = false;
        // The stream's own thread answers the start, then delivers frames: none before the completion.
        producer_ = std::thread([state = state_, frame = CMSampleBuffer{image},
                                 interval = frameInterval(configuration_.minimumFrameInterval),
                                 completion = std::move(completion)] {
            completion(std::nullopt);
            produce(state, frame, interval);
        });
    }

    void stopCapture(std::function<void(std::optional<ErrorObject>)> completion) override {
        bool wasRunning = halt();
        std::optional<ErrorObject> error = errorFrom(streamFaults("stopError"));
        if (!error && !wasRunning) error = sandboxError(5, "stream_not_running");
        answerLater(std::chrono::milliseconds(0),
                    [completion = std::move(completion), error] { completion(error); });
    }

  private:
    struct Output {
        std::shared_ptr<SCStreamOutput> output;
        SCStreamOutputType type;
        SerialQueue queue;
        std::shared_ptr<std::atomic<int>> waiting;  // frames submitted to its queue and not yet handled
    };

    struct State {
        std::mutex mutex;
        std::condition_variable cv;
        std::vector<Output> outputs;
        bool running = false;
        bool stopRequested = false;
    };

    static const Value* streamFaults(const char* key) {
        const Value* stream = desktop().find("stream");
        return stream ? stream->find(key) : nullptr;
    }

    // Delivers the frame to every screen output, then waits one interval; an output whose queue still
    // holds kQueueDepth frames skips this one, as a capture service drops frames for a slow client.
    static void produce(std::shared_ptr<State> state, CMSampleBuffer frame,
                        std::chrono::nanoseconds interval) {
        std::unique_lock lock(state->mutex);
        auto next = std::chrono::steady_clock::now();
        while (!state->stopRequested) {
            for (const Output& o : state->outputs) {
                if (o.type != SCStreamOutputType::Screen || o.waiting->load() >= kQueueDepth) continue;
                ++*o.waiting;
                o.queue.async([output = o.output, waiting = o.waiting, frame] {
                    output->didOutputSampleBuffer(frame, SCStreamOutputType::Screen);
                    --*waiting;
                });
            }
            // Never two frames closer than the interval, even when this thread was late.
            next = std::max(next + interval, std::chrono::steady_clock::now());
            state->cv.wait_until(lock, next, [&] { return state->stopRequested; });
        }
    }

    // Ends frame delivery; true when the stream was running.
    bool halt() {
        std::lock_guard turn(lifecycle_);
        {
            std::lock_guard lock(state_->mutex);
            state_->stopRequested = true;
            state_->cv.notify_all();
        }
        if (producer_.joinable()) producer_.join();
        std::lock_guard lock(state_->mutex);
        bool wasRunning = state_->running;
        state_->running = false;
        return wasRunning;
    }

    SCContentFilter filter_;
    SCStreamConfiguration configuration_;
    std::shared_ptr<State> state_;
    std::mutex lifecycle_;
    std::thread producer_;
};

}  // namespace

OperatingSystemVersion operatingSystemVersion() {
    OperatingSystemVersion fallback{14, 2, 0};
    const Value* v = desktop().find("systemVersion");
    if (!v) return fallback;
    if (auto n = v->asNumber()) {
        if (!(*n >= 0 && *n < 1e6)) return fallback;
        int major = static_cast<int>(*n);
        return OperatingSystemVersion{major, static_cast<int>((*n - major) * 10 + 0.5), 0};
    }
    const std::string* s = v->asString();
    if (!s) return fallback;
    // "major[.minor[.patch]]" of decimal numbers; anything else is the default version.
    int parts[3] = {0, 0, 0};
    std::size_t count = 0, pos = 0;
    while (count < 3) {
        std::size_t start = pos;
        long value = 0;
        while (pos < s->size() && (*s)[pos] >= '0' && (*s)[pos] <= '9' && value < 1000000)
            value = value * 10 + ((*s)[pos++] - '0');
        if (pos == start) return fallback;
        parts[count++] = static_cast<int>(value);
        if (pos == s->size()) break;
        if ((*s)[pos] != '.') return fallback;
        ++pos;
    }
    if (pos != s->size()) return fallback;
    return OperatingSystemVersion{parts[0], parts[1], parts[2]};
}

void getShareableContent(bool /*excludingDesktopWindows*/, bool onScreenWindowsOnly,
                         std::function<void(Result<SCShareableContent>)> completion) {
    const Value* s = shareable();
    std::chrono::milliseconds delay = delayFrom(s);
    if (auto e = errorFrom(s ? s->find("error") : nullptr)) {
        answerLater(delay, [completion = std::move(completion), e = *e] { completion(e); });
        return;
    }
    SCShareableContent content;
    for (const auto& [display, entry] : displayEntries()) content.displays.push_back(display);
    if (const Array* windows = arrayAt(s, "windows")) {
        for (const Value& w : *windows) {
            auto id = uint32From(w.find("windowID"));
            if (!id) continue;
            const Value* onScreen = w.find("onScreen");
            if (onScreenWindowsOnly && onScreen && onScreen->asBool() == false) continue;
            content.windows.push_back(SCWindow{*id});
        }
    }
    answerLater(delay,
                [completion = std::move(completion), content = std::move(content)] { completion(content); });
}

void captureImage(const SCContentFilter& filter, const SCStreamConfiguration& configuration,
                  std::function<void(Result<Bitmap>)> completion) {
    const Value* entry = displayEntry(filter.display.displayID);
    std::chrono::milliseconds delay = delayFrom(entry);
    std::optional<ErrorObject> injected = errorFrom(entry ? entry->find("error") : nullptr);
    answerLater(delay, [completion = std::move(completion), injected, filter, configuration] {
        if (injected) return completion(*injected);
        completion(renderDisplay(filter, configuration));
    });
}

std::unique_ptr<SCStream> makeStream(const SCContentFilter& filter,
                                     const SCStreamConfiguration& configuration) {
    return std::make_unique<SandboxStream>(filter, configuration);
}

std::optional<Bitmap> displayImage(const Value* displayEntry, CGDirectDisplayID displayID, int width,
                                   int height) {
    if (width <= 0 || height <= 0) return std::nullopt;
    const Value* image = displayEntry ? displayEntry->find("image") : nullptr;
    if (!image || !image->asString()) return testPattern(width, height, displayID);
    auto loaded = loadImage(desktopPath(*image->asString()).string());
    if (!loaded) return std::nullopt;
    if (loaded->bitmap.width == width && loaded->bitmap.height == height) return std::move(loaded->bitmap);
    return fitToSize(loaded->bitmap, width, height);
}

}  // namespace platform::sandbox
