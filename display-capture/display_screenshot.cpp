#include "display-capture/display_screenshot.h"

#include <unistd.h>

#include <cstdio>
#include <memory>

#include "platform/dispatch.h"
#include "shared/png_file.h"

namespace shotdeck {
namespace {

constexpr std::chrono::milliseconds kWaitSlice{50};
// Short: the semaphore is only looked at between the run loop's slices, so a long slice would leave a
// finished capture waiting for it to end.
constexpr std::chrono::milliseconds kRunLoopSlice{2};
constexpr std::int64_t kMinimumPngBytes = 512;

// The cell the capture task fills and the waiting main thread reads once it holds the semaphore.
struct Box {
    bool ok = false;
    std::optional<std::uint32_t> usedDisplayId;
    std::optional<std::string> method;
    std::optional<std::string> error;
    std::optional<std::string> errorCode;
};

void writeDiagnostic(const std::string& line) {
    std::string text = "[capture-sck] " + line + "\n";
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

bool contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

void runCaptureTask(std::uint32_t preferred, const std::string& path, const std::shared_ptr<Box>& box,
                    const std::shared_ptr<platform::Semaphore>& semaphore) {
    auto captured = captureDisplayWithSCK(preferred, path);
    if (auto* success = std::get_if<std::pair<std::uint32_t, std::string>>(&captured)) {
        box->ok = true;
        box->usedDisplayId = success->first;
        box->method = success->second;
    } else {
        const platform::ErrorObject& failure = std::get<platform::ErrorObject>(captured);
        box->error = failure.fullDescription();
        box->errorCode = classifyCaptureFailure(failure);
        writeDiagnostic(failure.fullDescription());
    }
    semaphore->signal();
}

}  // namespace

platform::ErrorObject captureError(std::int64_t code) {
    return platform::ErrorObject{kCaptureErrorDomain, code,
                                 code == 1 ? "no_shareable_displays" : "png_write_failed"};
}

shared::Json resultJson(const Result& r) {
    shared::Json j = shared::Json::object();
    j["ok"] = r.ok;
    if (r.displayId) j["displayId"] = *r.displayId;
    if (r.displayIndex) j["displayIndex"] = *r.displayIndex;
    if (r.bounds) j["bounds"] = *r.bounds;
    if (r.bytes) j["bytes"] = *r.bytes;
    if (r.method) j["method"] = *r.method;
    if (r.error) j["error"] = *r.error;
    if (r.errorCode) j["errorCode"] = *r.errorCode;
    return j;
}

void emit(const Result& result) {
    shared::emitJsonLine(resultJson(result));
}

std::string classifyCaptureFailure(const platform::ErrorObject& error) {
    // Every error of the capture service's stream domain counts as a refused permission.
    if (contains(error.domain, "SCStream") || contains(error.localizedDescription, "TCC"))
        return "screen_recording_denied";
    if (contains(error.localizedDescription, "no_shareable_displays")) return "no_shareable_displays";
    return "screen_capture_kit_failed";
}

CaptureOutcome captureWithScreenCaptureKit(std::uint32_t preferred, const std::string& path) {
    auto box = std::make_shared<Box>();
    auto semaphore = std::make_shared<platform::Semaphore>(0);
    platform::detachTask(
        [preferred, path, box, semaphore] { runCaptureTask(preferred, path, box, semaphore); });
    // Elapsed time on the monotonic clock: a change of the wall clock neither cuts the wait short nor
    // stretches it.
    const auto deadline = std::chrono::steady_clock::now() + kCaptureDeadline;
    for (;;) {
        if (semaphore->wait(kWaitSlice)) {
            return CaptureOutcome{box->ok,    box->usedDisplayId, box->method,
                                  box->error, box->errorCode,     false};
        }
        if (std::chrono::steady_clock::now() > deadline) {
            return CaptureOutcome{false,     std::nullopt, std::nullopt, "screen_capture_kit_timeout",
                                  "timeout", true};
        }
        platform::runMainRunLoop(std::chrono::steady_clock::now() + kRunLoopSlice);
    }
}

platform::Result<std::pair<std::uint32_t, std::string>> captureDisplayWithSCK(std::uint32_t preferred,
                                                                              const std::string& path) {
    platform::Completion<platform::Result<platform::SCShareableContent>> shareable;
    platform::getShareableContent(false, false, shareable.handler());
    platform::Result<platform::SCShareableContent> content = shareable.wait();
    if (auto* e = std::get_if<platform::ErrorObject>(&content)) return *e;

    std::vector<platform::SCDisplay> displays =
        orderedDisplays(preferred, std::get<platform::SCShareableContent>(content));
    if (displays.empty()) return captureError(1);

    platform::ErrorObject lastFailure;
    for (const platform::SCDisplay& display : displays) {
        std::optional<platform::ErrorObject> failure = captureOneDisplay(display, path);
        if (!failure) {
            return std::pair{
                display.displayID,
                std::string(display.displayID == preferred ? kMethodDisplay : kMethodDisplayFallback)};
        }
        writeDiagnostic("display " + std::to_string(display.displayID) +
                        " failed: " + failure->fullDescription());
        lastFailure = *failure;
    }
    return lastFailure;
}

std::optional<platform::ErrorObject> captureOneDisplay(const platform::SCDisplay& display,
                                                       const std::string& path) {
    platform::SCContentFilter filter{display, {}};
    platform::SCStreamConfiguration configuration;
    configuration.width = display.width;
    configuration.height = display.height;
    configuration.showsCursor = true;
    configuration.scalesToFit = false;
    if (platform::isOperatingSystemAtLeast(14, 2))
        configuration.captureResolution = platform::SCCaptureResolutionType::Best;

    platform::Completion<platform::Result<platform::Bitmap>> screenshot;
    platform::captureImage(filter, configuration, screenshot.handler());
    platform::Result<platform::Bitmap> image = screenshot.wait();
    if (auto* e = std::get_if<platform::ErrorObject>(&image)) return *e;

    if (shared::saveCGImage(std::get<platform::Bitmap>(image), path) &&
        shared::fileBytes(path) >= kMinimumPngBytes)
        return std::nullopt;
    return captureError(2);
}

Result missingOutputPathResult() {
    Result r;
    r.error = "missing_output_path";
    r.errorCode = "missing_output_path";
    return r;
}

Result unsupportedOsResult(const ResolvedDisplay& resolved, std::int64_t bytes) {
    Result r;
    r.displayId = resolved.displayId;
    r.displayIndex = resolved.displayIndex;
    r.bounds = resolved.boundsLabel;
    r.bytes = bytes;
    r.error = "display_capture_requires_macos_14";
    r.errorCode = "unsupported_os";
    return r;
}

Result capturedResult(const CaptureOutcome& outcome, const ResolvedDisplay& resolved, std::int64_t bytes) {
    Result r;
    r.ok = outcome.ok;
    r.displayIndex = resolved.displayIndex;
    r.bounds = resolved.boundsLabel;
    r.bytes = bytes;
    if (outcome.ok) {
        r.displayId = outcome.usedDisplayId.value_or(resolved.displayId);
        r.method = outcome.method.value_or(kMethodDisplay);
    } else {
        r.displayId = resolved.displayId;
        r.error = outcome.error.value_or("screen_capture_kit_failed");
        r.errorCode = outcome.errorCode.value_or("screen_capture_kit_failed");
    }
    return r;
}

void removeOldCapture(const std::string& path) {
    // unlink removes files and links but never a folder; any failure is of no concern here.
    ::unlink(path.c_str());
}

}  // namespace shotdeck
