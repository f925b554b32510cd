#include "region-mirror/frame_pipeline.h"

#include <chrono>
#include <cmath>
#include <cstring>

#include "platform/base64.h"
#include "region-mirror/mirror_stop.h"

namespace framewell {

std::optional<platform::Bitmap> cropImage(const platform::Bitmap& image, const platform::CGRect& rect) {
    platform::CGRect bounds{0, 0, static_cast<double>(image.width), static_cast<double>(image.height)};
    platform::CGRect r = platform::CGRectIntersection(rect, bounds);
    if (platform::CGRectGetWidth(r) < 1 || platform::CGRectGetHeight(r) < 1) return std::nullopt;
    // Outward to whole pixels, then clipped to the image again (rounding never leaves it, as its edges
    // are whole numbers).
    platform::CGRect pixels = platform::CGRectIntersection(platform::CGRectIntegral(r), bounds);
    int x = static_cast<int>(pixels.x);
    int y = static_cast<int>(pixels.y);
    int width = static_cast<int>(pixels.width);
    int height = static_cast<int>(pixels.height);
    if (width < 1 || height < 1) return std::nullopt;

    platform::Bitmap cut;
    cut.width = width;
    cut.height = height;
    cut.rgba.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
    const std::size_t sourceStride = static_cast<std::size_t>(image.width) * 4;
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 4;
    for (int row = 0; row < height; ++row) {
        std::memcpy(cut.rgba.data() + row * rowBytes,
                    image.rgba.data() + static_cast<std::size_t>(y + row) * sourceStride +
                        static_cast<std::size_t>(x) * 4,
                    rowBytes);
    }
    return cut;
}

std::optional<std::string> pngBase64(const platform::Bitmap& image) {
    std::optional<platform::Bytes> png = platform::encodePNG(image, platform::PngSpeed::Fast);
    if (!png) return std::nullopt;
    return platform::base64Encode(*png);
}

std::int64_t currentTimestampMillis() {
    auto now = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::milliseconds>(now).count();  // truncates toward zero
}

std::optional<FrameLine> frameLineFor(const platform::CMSampleBuffer& sampleBuffer,
                                      platform::SCStreamOutputType type, const platform::CGRect& cropRect) {
    // 1-3. Only screen samples that carry an image.
    if (type != platform::SCStreamOutputType::Screen) return std::nullopt;
    const platform::Bitmap* image = sampleBuffer.imageBuffer.get();
    if (!image || image->width <= 0 || image->height <= 0 ||
        image->rgba.size() !=
            static_cast<std::size_t>(image->width) * static_cast<std::size_t>(image->height) * 4)
        return std::nullopt;
    // 4. Cut.
    std::optional<platform::Bitmap> cut = cropImage(*image, cropRect);
    if (!cut) return std::nullopt;
    // 5. Encode.
    std::optional<std::string> text = pngBase64(*cut);
    if (!text) return std::nullopt;
    // 6-7. Stamp after encoding and build the line.
    return FrameLine{currentTimestampMillis(), cut->width, cut->height, std::move(*text)};
}

shared::Json frameLineJson(const FrameLine& line) {
    shared::Json j = shared::Json::object();
    j["ts"] = line.ts;
    j["width"] = line.width;
    j["height"] = line.height;
    j["pngBase64"] = line.pngBase64;
    return j;
}

EmitStatus emitFrame(const FrameLine& line, std::FILE* out) {
    return shared::emitJsonLine(frameLineJson(line), shared::KeyOrder::AsAdded, out);
}

void MirrorOutput::didOutputSampleBuffer(const platform::CMSampleBuffer& sampleBuffer,
                                         platform::SCStreamOutputType type) {
    std::optional<FrameLine> line = frameLineFor(sampleBuffer, type, cropRect_);
    if (!line) return;
    // 8. Printed by a later block of the same queue, after this handler has returned.
    queue_.async([line = std::move(*line)] {
        if (emitFrame(line) == EmitStatus::WriteFailed) requestMirrorStop();
    });
}

}  // namespace framewell
