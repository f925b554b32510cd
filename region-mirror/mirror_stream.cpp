#include "region-mirror/mirror_stream.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>

#include "platform/dispatch.h"
#include "region-mirror/frame_pipeline.h"
#include "region-mirror/mirror_stop.h"

namespace framewell {
namespace {

constexpr std::chrono::milliseconds kStopPollInterval{250};
// How long the frames handled before the stop may take to reach standard output.
constexpr std::chrono::seconds kDrainLimit{1};

std::optional<platform::ErrorObject> awaitCompletion(
    const std::function<void(std::function<void(std::optional<platform::ErrorObject>)>)>& operation) {
    platform::Completion<std::optional<platform::ErrorObject>> done;
    operation(done.handler());
    return done.wait();
}

// The reading end of standard output was closed: the host stopped reading.
bool standardOutputClosed() {
    pollfd fd{STDOUT_FILENO, 0, 0};
    return ::poll(&fd, 1, 0) == 1 && (fd.revents & (POLLERR | POLLHUP)) != 0;
}

}  // namespace

platform::ErrorObject noDisplayError() {
    return platform::ErrorObject{kMirrorErrorDomain, 1, "no_display"};
}

std::optional<platform::SCDisplay> chooseDisplay(const std::vector<platform::SCDisplay>& displays,
                                                 std::uint32_t requested, std::uint32_t mainDisplayId) {
    for (std::uint32_t id : {requested, mainDisplayId}) {
        for (const platform::SCDisplay& d : displays) {
            if (d.displayID == id) return d;
        }
    }
    if (!displays.empty()) return displays.front();
    return std::nullopt;
}

std::vector<platform::SCWindow> excludedWindows(const std::vector<platform::SCWindow>& windows,
                                                std::optional<std::uint32_t> excludeWindowId) {
    std::vector<platform::SCWindow> list;
    if (!excludeWindowId) return list;
    for (const platform::SCWindow& w : windows) {
        if (w.windowID == *excludeWindowId) list.push_back(w);
    }
    return list;
}

platform::SCStreamConfiguration mirrorConfiguration(const platform::SCDisplay& display, std::int64_t fps,
                                                    bool nominalResolutionAvailable) {
    platform::SCStreamConfiguration c;
    c.width = display.width;
    c.height = display.height;
    c.minimumFrameInterval = platform::CMTime{1, static_cast<std::int32_t>(fps)};
    c.showsCursor = false;
    c.scalesToFit = false;
    if (nominalResolutionAvailable) c.captureResolution = platform::SCCaptureResolutionType::Nominal;
    return c;
}

platform::CGRect captureOnlyCrop(platform::SCStreamConfiguration& configuration, const platform::CGRect& crop) {
    std::optional<PixelRect> part = cropPixels(static_cast<int>(std::min<std::int64_t>(configuration.width, INT32_MAX)),
                                               static_cast<int>(std::min<std::int64_t>(configuration.height, INT32_MAX)),
                                               crop);
    if (!part) return crop;
    configuration.sourceRect = platform::CGRect{static_cast<double>(part->x), static_cast<double>(part->y),
                                                static_cast<double>(part->width), static_cast<double>(part->height)};
    configuration.width = part->width;
    configuration.height = part->height;
    return platform::CGRect{crop.x - part->x, crop.y - part->y, crop.width, crop.height};
}

std::optional<platform::ErrorObject> runStream(const MirrorArguments& arguments) {
    // 1. What can be captured (on-screen windows only).
    platform::Completion<platform::Result<platform::SCShareableContent>> shareable;
    platform::getShareableContent(false, true, shareable.handler());
    platform::Result<platform::SCShareableContent> answer = shareable.wait();
    if (auto* e = std::get_if<platform::ErrorObject>(&answer)) return *e;
    const platform::SCShareableContent& content = std::get<platform::SCShareableContent>(answer);

    // 2. The display.
    std::optional<platform::SCDisplay> display =
        chooseDisplay(content.displays, arguments.displayId, platform::CGMainDisplayID());
    if (!display) return noDisplayError();

    // 3-5. Filter and configuration.
    platform::SCContentFilter filter{*display, excludedWindows(content.windows, arguments.excludeWindowId)};
    platform::SCStreamConfiguration configuration =
        mirrorConfiguration(*display, arguments.fps, platform::isOperatingSystemAtLeast(14, 2));
    platform::CGRect cropInFrame = captureOnlyCrop(configuration, arguments.cropRect);

    // 6-8. The frame queue, the frame receiver and the stream.
    platform::SerialQueue queue(kMirrorQueueLabel);
    auto output = std::make_shared<MirrorOutput>(cropInFrame, queue);
    std::unique_ptr<platform::SCStream> stream = platform::makeStream(filter, configuration);
    if (auto e = stream->addStreamOutput(output, platform::SCStreamOutputType::Screen, queue)) return e;

    // 9. Start.
    if (auto e = awaitCompletion([&](auto done) { stream->startCapture(std::move(done)); })) return e;

    // 10-11. Stream until SIGINT or SIGTERM, until the host stops reading, or until the stream ends on
    // its own (its display went away): that ends the mirror with the stream's error.
    gMirrorShouldStop.store(false);
    installMirrorStopSignals();
    while (!gMirrorShouldStop.load()) {
        std::this_thread::sleep_for(kStopPollInterval);
        if (standardOutputClosed()) requestMirrorStop();
        if (std::optional<platform::ErrorObject> lost = stream->stoppedWithError()) {
            queue.drain(kDrainLimit);
            return lost;
        }
    }

    // 12. Stop, and let the frames already handled reach standard output.
    std::optional<platform::ErrorObject> stopped =
        awaitCompletion([&](auto done) { stream->stopCapture(std::move(done)); });
    queue.drain(kDrainLimit);
    return stopped;
}

}  // namespace framewell
