// PNG writing: filter, pack, compress. The filter and pack loops work on 16 bytes at a time with SSE2
// (part of every x86-64 CPU); packing RGBA rows to RGB uses SSSE3 when the CPU has it, chosen at run
// time. Every loop has a plain version, used elsewhere and for the ends of rows.
//
// Filtering commutes with dropping the alpha channel (every filter works channel by channel on the
// pixel to the left, above and above-left), so rows are filtered as RGBA and packed afterwards.
#include "platform/png_encoder.h"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#if defined(__x86_64__) || defined(__i386__)
#include <emmintrin.h>
#include <tmmintrin.h>
#define SSP_PNG_X86 1
#endif

namespace platform {

namespace {

constexpr std::uint64_t kMaxSide = 1u << 16;
constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 28;
// Filtered rows are handed to the compressor in blocks of about this many bytes.
constexpr std::size_t kBlockBytes = 256 * 1024;
// The chunk data of one IDAT may not exceed 2^31 - 1 bytes.
constexpr std::size_t kMaxChunk = 0x7FFFFFFF;

enum Filter : std::uint8_t { kNone = 0, kSub = 1, kUp = 2, kPaeth = 4 };

// ------------------------------------------------------------------------------------------- row kernels

// Sum of the bytes read as signed values, in magnitude: the usual measure of how well a row compresses.
std::uint64_t signedMagnitude(const std::uint8_t* d, std::size_t n) {
    std::uint64_t sum = 0;
    std::size_t i = 0;
#ifdef SSP_PNG_X86
    __m128i zero = _mm_setzero_si128(), acc = zero;
    for (; i + 16 <= n; i += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i));
        __m128i magnitude = _mm_min_epu8(v, _mm_sub_epi8(zero, v));
        acc = _mm_add_epi64(acc, _mm_sad_epu8(magnitude, zero));
    }
    sum = static_cast<std::uint64_t>(_mm_cvtsi128_si64(acc)) +
          static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(acc, acc)));
#endif
    for (; i < n; ++i) sum += d[i] < 128 ? d[i] : 256 - d[i];
    return sum;
}

#ifdef SSP_PNG_X86
// Adds the signed magnitude of 16 filtered bytes to the running sums.
inline __m128i measured(__m128i acc, __m128i d) {
    __m128i zero = _mm_setzero_si128();
    return _mm_add_epi64(acc, _mm_sad_epu8(_mm_min_epu8(d, _mm_sub_epi8(zero, d)), zero));
}

inline std::uint64_t total(__m128i acc) {
    return static_cast<std::uint64_t>(_mm_cvtsi128_si64(acc)) +
           static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(acc, acc)));
}
#endif

// The filters write the filtered row and answer its signed magnitude, measured as it is written.
std::uint64_t filterSub(const std::uint8_t* row, std::uint8_t* out, std::size_t n) {
    std::size_t first = std::min<std::size_t>(4, n);
    std::memcpy(out, row, first);
    std::uint64_t sum = signedMagnitude(out, first);
    std::size_t i = first;
#ifdef SSP_PNG_X86
    __m128i acc = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
        __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i - 4));
        __m128i d = _mm_sub_epi8(x, a);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), d);
        acc = measured(acc, d);
    }
    sum += total(acc);
#endif
    std::size_t rest = i;
    for (; i < n; ++i) out[i] = static_cast<std::uint8_t>(row[i] - row[i - 4]);
    return sum + signedMagnitude(out + rest, n - rest);
}

std::uint64_t filterUp(const std::uint8_t* row, const std::uint8_t* prev, std::uint8_t* out, std::size_t n) {
    std::uint64_t sum = 0;
    std::size_t i = 0;
#ifdef SSP_PNG_X86
    __m128i acc = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prev + i));
        __m128i d = _mm_sub_epi8(x, b);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), d);
        acc = measured(acc, d);
    }
    sum = total(acc);
#endif
    std::size_t rest = i;
    for (; i < n; ++i) out[i] = static_cast<std::uint8_t>(row[i] - prev[i]);
    return sum + signedMagnitude(out + rest, n - rest);
}

std::uint8_t paethPredictor(int a, int b, int c) {
    int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    if (pa <= pb && pa <= pc) return static_cast<std::uint8_t>(a);
    return static_cast<std::uint8_t>(pb <= pc ? b : c);
}

#ifdef SSP_PNG_X86
// Eight channel values of the Paeth prediction, in 16-bit lanes.
__m128i paeth8(__m128i a, __m128i b, __m128i c) {
    __m128i pa = _mm_sub_epi16(b, c);  // p - a
    __m128i pb = _mm_sub_epi16(a, c);  // p - b
    __m128i pc = _mm_add_epi16(pa, pb);
    auto abs16 = [](__m128i v) { return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v)); };
    pa = abs16(pa);
    pb = abs16(pb);
    pc = abs16(pc);
    __m128i smallest = _mm_min_epi16(_mm_min_epi16(pa, pb), pc);
    // a where pa is the smallest, else b where pb is, else c.
    __m128i useA = _mm_cmpeq_epi16(smallest, pa);
    __m128i useB = _mm_cmpeq_epi16(smallest, pb);
    __m128i bOrC = _mm_or_si128(_mm_and_si128(useB, b), _mm_andnot_si128(useB, c));
    return _mm_or_si128(_mm_and_si128(useA, a), _mm_andnot_si128(useA, bOrC));
}
#endif

std::uint64_t filterPaeth(const std::uint8_t* row, const std::uint8_t* prev, std::uint8_t* out, std::size_t n) {
    std::size_t first = std::min<std::size_t>(4, n);
    // The first pixel has nothing to its left: the predictor is the pixel above.
    for (std::size_t i = 0; i < first; ++i) out[i] = static_cast<std::uint8_t>(row[i] - prev[i]);
    std::size_t i = first;
#ifdef SSP_PNG_X86
    __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
        __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i - 4));
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prev + i));
        __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prev + i - 4));
        __m128i lo = paeth8(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero), _mm_unpacklo_epi8(c, zero));
        __m128i hi = paeth8(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero), _mm_unpackhi_epi8(c, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_sub_epi8(x, _mm_packus_epi16(lo, hi)));
    }
#endif
    for (; i < n; ++i)
        out[i] = static_cast<std::uint8_t>(row[i] - paethPredictor(row[i - 4], prev[i], prev[i - 4]));
    return signedMagnitude(out, n);
}

// RGBA to RGB: `pixels` pixels from `in` to `out` (3 bytes each).
void packRgbPlain(const std::uint8_t* in, std::uint8_t* out, std::size_t pixels) {
    for (std::size_t p = 0; p < pixels; ++p) {
        out[p * 3 + 0] = in[p * 4 + 0];
        out[p * 3 + 1] = in[p * 4 + 1];
        out[p * 3 + 2] = in[p * 4 + 2];
    }
}

#ifdef SSP_PNG_X86
__attribute__((target("ssse3"))) void packRgbSsse3(const std::uint8_t* in, std::uint8_t* out,
                                                   std::size_t pixels) {
    const __m128i drop = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    std::size_t p = 0;
    // Each step stores 16 bytes of which 12 are kept: the last four pixels of a row go the plain way so
    // that nothing is written past the row.
    for (; p + 4 + 4 <= pixels; p += 4) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + p * 4));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + p * 3), _mm_shuffle_epi8(v, drop));
    }
    packRgbPlain(in + p * 4, out + p * 3, pixels - p);
}
#endif

using PackFunction = void (*)(const std::uint8_t*, std::uint8_t*, std::size_t);

PackFunction choosePack() {
#ifdef SSP_PNG_X86
    if (__builtin_cpu_supports("ssse3")) return packRgbSsse3;
#endif
    return packRgbPlain;
}

// ------------------------------------------------------------------------------------------------ output

void put32(Bytes& out, std::uint32_t v) {
    std::uint8_t b[4] = {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
                         static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
    out.insert(out.end(), b, b + 4);
}

void patch32(Bytes& out, std::size_t at, std::uint32_t v) {
    out[at] = static_cast<std::uint8_t>(v >> 24);
    out[at + 1] = static_cast<std::uint8_t>(v >> 16);
    out[at + 2] = static_cast<std::uint8_t>(v >> 8);
    out[at + 3] = static_cast<std::uint8_t>(v);
}

// Closes the chunk whose length field stands at `start`: its length, then the CRC of type and data.
void endChunk(Bytes& out, std::size_t start) {
    std::size_t length = out.size() - start - 8;
    patch32(out, start, static_cast<std::uint32_t>(length));
    put32(out, crc32_gzip_refl(0, out.data() + start + 4, length + 4));
}

std::size_t beginChunk(Bytes& out, const char* type) {
    std::size_t start = out.size();
    put32(out, 0);
    out.insert(out.end(), type, type + 4);
    return start;
}

// The zlib stream of the filtered rows, appended to `out` as it is made.
class Compressor {
  public:
    // Appends to what `out` already holds.
    Compressor(Bytes& out) : out_(out), used_(out.size()) {
        isal_deflate_init(&stream_);
        stream_.gzip_flag = IGZIP_ZLIB;
        stream_.flush = NO_FLUSH;
        // igzip's higher levels make screen content larger, not smaller, and take several times longer.
        stream_.level = 1;
        levelSize_ = ISAL_DEF_LVL1_DEFAULT;
        level_.reset(new (std::nothrow) std::uint8_t[levelSize_]);
        stream_.level_buf = level_.get();
        stream_.level_buf_size = static_cast<std::uint32_t>(levelSize_);
    }

    bool ready() const { return level_ != nullptr; }

    // Compresses `n` bytes; `last` ends the stream.
    bool feed(const std::uint8_t* data, std::size_t n, bool last) {
        stream_.next_in = const_cast<std::uint8_t*>(data);  // igzip only reads its input
        stream_.avail_in = static_cast<std::uint32_t>(n);
        stream_.end_of_stream = last ? 1 : 0;
        for (;;) {
            if (!room()) return false;
            std::size_t before = stream_.avail_out;
            if (isal_deflate(&stream_) != COMP_OK) return false;
            used_ += before - stream_.avail_out;
            if (last ? stream_.internal_state.state == ZSTATE_END : stream_.avail_in == 0) break;
        }
        out_.resize(used_);
        return true;
    }

  private:
    // Makes output room after what was written; false when memory runs out.
    bool room() {
        if (out_.size() - used_ < 64 * 1024) {
            std::size_t grow = std::max<std::size_t>(out_.size() / 2, 256 * 1024);
            try {
                out_.resize(out_.size() + grow);
            } catch (const std::bad_alloc&) {
                return false;
            }
        }
        std::size_t left = std::min<std::size_t>(out_.size() - used_, std::numeric_limits<std::uint32_t>::max());
        stream_.next_out = out_.data() + used_;
        stream_.avail_out = static_cast<std::uint32_t>(left);
        return true;
    }

    Bytes& out_;
    isal_zstream stream_{};
    std::unique_ptr<std::uint8_t[]> level_;
    std::size_t levelSize_ = 0;
    std::size_t used_;  // bytes of out_ written so far (out_ may be larger while compressing)
};

bool viewValid(const RgbaView& v) {
    return v.pixels != nullptr && v.width > 0 && v.height > 0 && std::uint64_t(v.width) <= kMaxSide &&
           std::uint64_t(v.height) <= kMaxSide && std::uint64_t(v.width) * std::uint64_t(v.height) <= kMaxPixels &&
           v.stride >= std::size_t(v.width) * 4;
}

std::optional<Bytes> encode(const RgbaView& view, PngEffort effort) {
    const bool opaque = rgbaOpaque(view);
    const std::size_t width = static_cast<std::size_t>(view.width);
    const std::size_t rgbaBytes = width * 4;
    const std::size_t rowBytes = 1 + width * (opaque ? 3 : 4);
    static const PackFunction pack = choosePack();

    Bytes out;
    out.reserve(rowBytes * static_cast<std::size_t>(view.height) / 4 + 4096);
    static const std::uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    out.insert(out.end(), signature, signature + 8);
    std::size_t ihdr = beginChunk(out, "IHDR");
    put32(out, static_cast<std::uint32_t>(view.width));
    put32(out, static_cast<std::uint32_t>(view.height));
    const std::uint8_t rest[5] = {8, static_cast<std::uint8_t>(opaque ? 2 : 6), 0, 0, 0};
    out.insert(out.end(), rest, rest + 5);
    endChunk(out, ihdr);

    std::size_t idat = beginChunk(out, "IDAT");
    Compressor compressor(out);
    if (!compressor.ready()) return std::nullopt;

    const std::size_t rowsPerBlock = std::max<std::size_t>(1, kBlockBytes / rowBytes);
    std::unique_ptr<std::uint8_t[]> block(new (std::nothrow) std::uint8_t[rowsPerBlock * rowBytes]);
    std::unique_ptr<std::uint8_t[]> scratch(new (std::nothrow) std::uint8_t[rgbaBytes * 3]);
    if (!block || !scratch) return std::nullopt;
    std::uint8_t* sub = scratch.get();
    std::uint8_t* up = sub + rgbaBytes;
    std::uint8_t* paeth = up + rgbaBytes;

    const std::size_t height = static_cast<std::size_t>(view.height);
    std::size_t inBlock = 0;
    for (std::size_t y = 0; y < height; ++y) {
        const std::uint8_t* row = view.pixels + y * view.stride;
        const std::uint8_t* prev = y > 0 ? row - view.stride : nullptr;
        // The candidate with the smallest signed magnitude; ties keep the simpler filter. Frames leave
        // None out: screen content nearly never compresses better unfiltered.
        std::uint64_t best = filterSub(row, sub, rgbaBytes);
        const std::uint8_t* chosen = sub;
        std::uint8_t type = kSub;
        if (effort == PngEffort::Smaller) {
            if (std::uint64_t m = signedMagnitude(row, rgbaBytes); m <= best) best = m, chosen = row, type = kNone;
        }
        if (prev) {
            if (std::uint64_t m = filterUp(row, prev, up, rgbaBytes); m < best) best = m, chosen = up, type = kUp;
            if (effort == PngEffort::Smaller) {
                if (std::uint64_t m = filterPaeth(row, prev, paeth, rgbaBytes); m < best)
                    best = m, chosen = paeth, type = kPaeth;
            }
        }
        std::uint8_t* target = block.get() + inBlock * rowBytes;
        target[0] = type;
        if (opaque) {
            pack(chosen, target + 1, width);
        } else {
            std::memcpy(target + 1, chosen, rgbaBytes);
        }
        ++inBlock;
        bool last = y + 1 == height;
        if (inBlock == rowsPerBlock || last) {
            if (!compressor.feed(block.get(), inBlock * rowBytes, last)) return std::nullopt;
            inBlock = 0;
        }
    }

    if (out.size() - idat - 8 > kMaxChunk) return std::nullopt;
    endChunk(out, idat);
    std::size_t iend = beginChunk(out, "IEND");
    endChunk(out, iend);
    return out;
}

}  // namespace

bool rgbaOpaque(const RgbaView& view) {
    const std::size_t bytes = static_cast<std::size_t>(view.width) * 4;
    for (int y = 0; y < view.height; ++y) {
        const std::uint8_t* row = view.pixels + static_cast<std::size_t>(y) * view.stride;
        std::size_t i = 0;
#ifdef SSP_PNG_X86
        __m128i acc = _mm_set1_epi8(-1);
        for (; i + 16 <= bytes; i += 16)
            acc = _mm_and_si128(acc, _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i)));
        // Every fourth byte is an alpha value: all of them 255 leaves the top byte of each word set.
        __m128i alpha = _mm_srli_epi32(acc, 24);
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(alpha, _mm_set1_epi32(0xFF))) != 0xFFFF) return false;
#endif
        for (i += 3; i < bytes; i += 4)
            if (row[i] != 0xFF) return false;
    }
    return true;
}

std::optional<Bytes> encodePngRgba(const RgbaView& view, PngEffort effort) {
    if (!viewValid(view)) return std::nullopt;
    try {
        return encode(view, effort);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

}  // namespace platform
