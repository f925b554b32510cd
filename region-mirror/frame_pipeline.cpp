#include "region-mirror/frame_pipeline.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/base64.h"
#include "platform/png_encoder.h"
#include "region-mirror/mirror_stop.h"

namespace framewell {

std::optional<PixelRect> cropPixels(int imageWidth, int imageHeight, const platform::CGRect& rect) {
    platform::CGRect bounds{0, 0, static_cast<double>(imageWidth), static_cast<double>(imageHeight)};
    platform::CGRect r = platform::CGRectIntersection(rect, bounds);
    if (platform::CGRectGetWidth(r) < 1 || platform::CGRectGetHeight(r) < 1) return std::nullopt;
    // Outward to whole pixels, then clipped to the image again (rounding never leaves it, as its edges
    // are whole numbers).
    platform::CGRect pixels = platform::CGRectIntersection(platform::CGRectIntegral(r), bounds);
    PixelRect part{static_cast<int>(pixels.x), static_cast<int>(pixels.y), static_cast<int>(pixels.width),
                   static_cast<int>(pixels.height)};
    if (part.width < 1 || part.height < 1) return std::nullopt;
    return part;
}

std::optional<platform::Bitmap> cropImage(const platform::Bitmap& image, const platform::CGRect& rect) {
    std::optional<PixelRect> part = cropPixels(image.width, image.height, rect);
    if (!part) return std::nullopt;
    platform::Bitmap cut;
    cut.width = part->width;
    cut.height = part->height;
    const std::size_t sourceStride = static_cast<std::size_t>(image.width) * 4;
    const std::size_t rowBytes = static_cast<std::size_t>(part->width) * 4;
    cut.rgba.resize(rowBytes * static_cast<std::size_t>(part->height));
    for (int row = 0; row < part->height; ++row) {
        std::memcpy(cut.rgba.data() + row * rowBytes,
                    image.rgba.data() + static_cast<std::size_t>(part->y + row) * sourceStride +
                        static_cast<std::size_t>(part->x) * 4,
                    rowBytes);
    }
    return cut;
}

std::optional<std::string> pngBase64(const platform::Bitmap& image, const PixelRect& part) {
    const std::size_t stride = static_cast<std::size_t>(image.width) * 4;
    platform::RgbaView view{image.rgba.data() + static_cast<std::size_t>(part.y) * stride +
                                static_cast<std::size_t>(part.x) * 4,
                            part.width, part.height, stride};
    std::optional<platform::Bytes> png = platform::encodePngRgba(view, platform::PngEffort::Fastest);
    if (!png) return std::nullopt;
    return platform::base64Encode(*png);
}

std::optional<std::string> pngBase64(const platform::Bitmap& image) {
    return pngBase64(image, PixelRect{0, 0, image.width, image.height});
}

std::int64_t currentTimestampMillis() {
    auto now = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::milliseconds>(now).count();  // truncates toward zero
}

std::optional<FrameLine> frameLineFor(const platform::CMSampleBuffer& sampleBuffer,
                                      platform::SCStreamOutputType type, const platform::CGRect& cropRect,
                                      LastFrame* last) {
    // 1-3. Only screen samples that carry an image.
    if (type != platform::SCStreamOutputType::Screen) return std::nullopt;
    const platform::Bitmap* image = sampleBuffer.imageBuffer.get();
    if (!image || image->width <= 0 || image->height <= 0 ||
        image->rgba.size() !=
            static_cast<std::size_t>(image->width) * static_cast<std::size_t>(image->height) * 4)
        return std::nullopt;
    // 4. Cut: the part of the frame, encoded in place without a copy.
    std::optional<PixelRect> part = cropPixels(image->width, image->height, cropRect);
    if (!part) return std::nullopt;
    // 5. Encode, unless the stream handed over the same image again.
    FrameLine line{0, part->width, part->height, {}};
    if (last && last->image == sampleBuffer.imageBuffer && last->part.x == part->x &&
        last->part.y == part->y && last->part.width == part->width && last->part.height == part->height) {
        line.pngBase64 = last->pngBase64;
    } else {
        std::optional<std::string> text = pngBase64(*image, *part);
        if (!text) return std::nullopt;
        line.pngBase64 = std::move(*text);
        if (last) *last = LastFrame{sampleBuffer.imageBuffer, *part, line.pngBase64};
    }
    // 6-7. Stamp after encoding and build the line.
    line.ts = currentTimestampMillis();
    return line;
}

namespace {

// Whether every character is one of the base64 alphabet or "=": 16 at a time where SSE2 is there.
bool base64Characters(const char* text, std::size_t n) {
    auto plain = [](unsigned char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/' ||
               c == '=';
    };
    std::size_t i = 0;
#if defined(__SSE2__)
    auto within = [](__m128i v, char lo, char hi) {
        __m128i x = _mm_sub_epi8(v, _mm_set1_epi8(lo));
        return _mm_cmpeq_epi8(_mm_min_epu8(x, _mm_set1_epi8(static_cast<char>(hi - lo))), x);
    };
    for (; i + 16 <= n; i += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
        __m128i ok = _mm_or_si128(_mm_or_si128(within(v, 'A', 'Z'), within(v, 'a', 'z')),
                                  _mm_or_si128(within(v, '/', '9'),  // "/" and the digits
                                               _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('+')),
                                                            _mm_cmpeq_epi8(v, _mm_set1_epi8('=')))));
        if (_mm_movemask_epi8(ok) != 0xFFFF) return false;
    }
#endif
    for (; i < n; ++i)
        if (!plain(static_cast<unsigned char>(text[i]))) return false;
    return true;
}

}  // namespace

std::string frameLineText(const FrameLine& line) {
    const std::string& text = line.pngBase64;
    // Base64 text needs no escaping but for "/"; any other text goes through the platform's encoder,
    // which knows every rule.
    if (!base64Characters(text.data(), text.size()))
        return shared::encodeJson(frameLineJson(line)).value_or(std::string());
    std::string head = "{\"ts\":" + std::to_string(line.ts) + ",\"width\":" + std::to_string(line.width) +
                       ",\"height\":" + std::to_string(line.height) + ",\"pngBase64\":\"";
    std::string out;
    out.reserve(head.size() + text.size() + text.size() / 32 + 3);
    out += head;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t slash = std::min(text.find('/', at), text.size());
        out.append(text, at, slash - at);
        if (slash == text.size()) break;
        out += "\\/";
        at = slash + 1;
    }
    out += "\"}";
    return out;
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
    std::string text = frameLineText(line);
    if (text.empty()) return EmitStatus::NotEncodable;
    text.push_back('\n');
    bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    written = std::fflush(out) == 0 && written;
    if (written) return EmitStatus::Written;
    std::clearerr(out);
    return EmitStatus::WriteFailed;
}

void MirrorOutput::didOutputSampleBuffer(const platform::CMSampleBuffer& sampleBuffer,
                                         platform::SCStreamOutputType type) {
    std::optional<FrameLine> line = frameLineFor(sampleBuffer, type, cropRect_, &last_);
    if (!line) return;
    // 8. Printed by a later block of the same queue, after this handler has returned.
    queue_.async([line = std::move(*line)] {
        if (emitFrame(line) == EmitStatus::WriteFailed) requestMirrorStop();
    });
}

}  // namespace framewell
