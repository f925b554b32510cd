// The frame pipeline: each delivered frame is cut to the crop rectangle, encoded as PNG, then base64,
// and printed as one flushed JSON line. A frame that cannot be handled is dropped without a word. A
// frame whose image is the very image of the frame before (the stream saw no change) reuses that
// frame's text.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch.h"
#include "platform/geometry.h"
#include "platform/images.h"
#include "platform/screen_capture.h"
#include "shared/json_line.h"

namespace framewell {

inline constexpr const char* kMirrorQueueLabel = "com.brookhale.vantlypro.mirror";

struct FrameLine {
    std::int64_t ts = 0;  // wall-clock milliseconds since 1970, taken after encoding
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::string pngBase64;
};

// Whole pixels of an image.
struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// The pixels of an image of the given size inside `rect`: the rectangle is clipped to the image, then
// rounded outward to whole pixels; nothing when the clipped rectangle is less than one pixel wide or high.
std::optional<PixelRect> cropPixels(int imageWidth, int imageHeight, const platform::CGRect& rect);
// The part of the image inside `rect`, as cropPixels gives it.
std::optional<platform::Bitmap> cropImage(const platform::Bitmap& image, const platform::CGRect& rect);
// The image (or the part of it) as a PNG file in base64; nothing when it cannot be encoded.
std::optional<std::string> pngBase64(const platform::Bitmap& image);
std::optional<std::string> pngBase64(const platform::Bitmap& image, const PixelRect& part);

// What the handler keeps of the last frame it encoded: the image it came from and the line's content.
struct LastFrame {
    std::shared_ptr<const platform::Bitmap> image;
    PixelRect part;
    std::string pngBase64;
};
// Wall-clock milliseconds since 1970, truncated toward zero.
std::int64_t currentTimestampMillis();
// Steps 1-7 of the frame handler: the line for one sample, or nothing when the frame is dropped. With
// `last`, a sample that carries the same image as the last encoded one reuses its text, and an encoded
// frame is kept there.
std::optional<FrameLine> frameLineFor(const platform::CMSampleBuffer& sampleBuffer,
                                      platform::SCStreamOutputType type, const platform::CGRect& cropRect,
                                      LastFrame* last = nullptr);

// The JSON text of the line, as the platform's encoder writes it ("/" as "\/"), made in one pass.
std::string frameLineText(const FrameLine& line);

shared::Json frameLineJson(const FrameLine& line);
using shared::EmitStatus;
// Prints the line with "\n" and flushes; a failed write means the reader has gone.
EmitStatus emitFrame(const FrameLine& line, std::FILE* out = stdout);

// The frame receiver registered with the stream.
class MirrorOutput : public platform::SCStreamOutput {
  public:
    MirrorOutput(platform::CGRect cropRect, platform::SerialQueue queue)
        : cropRect_(cropRect), queue_(std::move(queue)) {}

    // Runs on the queue: builds the line and submits its printing to the same queue. When the line
    // cannot be written (the host closed standard output), the mirror is asked to stop.
    void didOutputSampleBuffer(const platform::CMSampleBuffer& sampleBuffer,
                               platform::SCStreamOutputType type) override;

  private:
    const platform::CGRect cropRect_;
    const platform::SerialQueue queue_;
    LastFrame last_;  // only touched by handlers, which the serial queue runs one at a time
};

}  // namespace framewell
