// One framewell frame, in process: the crop out of the display image, the PNG encoding and the base64
// text, for the crops the host typically asks for. The display image is the sandbox's generated one,
// and, for the figures that count, samples/desktop-1080p.png (an editor, a terminal, a photograph):
// BM_DesktopFrame is the whole frame handler on it, BM_DesktopLibpngLevel1 the same pixels through
// libpng at zlib level 1 with the Sub filter (how PNGs were written before), for the ratio.
//
//   cmake -S . -B build-bench -G Ninja -DSSP_BUILD_BENCH=ON -DCMAKE_BUILD_TYPE=Release
//   cmake --build build-bench --target frame_bench && build-bench/bin/frame_bench
#include <benchmark/benchmark.h>

#include <png.h>

#include <cstdio>
#include <memory>

#include "platform/base64.h"
#include "platform/images.h"
#include "platform/sandbox/test_pattern.h"
#include "region-mirror/frame_pipeline.h"

namespace {

// A 2560 x 1440 display, and crops of width x height from its middle.
const platform::Bitmap& displayImage() {
    static const platform::Bitmap image = platform::sandbox::testPattern(2560, 1440, 1);
    return image;
}

platform::CGRect cropOf(benchmark::State& state) {
    double w = static_cast<double>(state.range(0));
    double h = static_cast<double>(state.range(1));
    return platform::CGRect{(2560 - w) / 2, (1440 - h) / 2, w, h};
}

void BM_Crop(benchmark::State& state) {
    platform::CGRect crop = cropOf(state);
    for (auto _ : state) benchmark::DoNotOptimize(framewell::cropImage(displayImage(), crop));
}

void BM_EncodePngFast(benchmark::State& state) {
    auto cut = framewell::cropImage(displayImage(), cropOf(state));
    std::size_t bytes = 0;
    for (auto _ : state) {
        auto png = platform::encodePNG(*cut, platform::PngSpeed::Fast);
        bytes = png->size();
        benchmark::DoNotOptimize(png);
    }
    state.counters["pngBytes"] = static_cast<double>(bytes);
}

void BM_Base64(benchmark::State& state) {
    auto png =
        platform::encodePNG(*framewell::cropImage(displayImage(), cropOf(state)), platform::PngSpeed::Fast);
    for (auto _ : state) benchmark::DoNotOptimize(platform::base64Encode(*png));
}

// The whole frame handler: crop, PNG, base64 and the time stamp, as one sample is handled.
void BM_Frame(benchmark::State& state) {
    platform::CMSampleBuffer sample{std::make_shared<const platform::Bitmap>(displayImage())};
    platform::CGRect crop = cropOf(state);
    for (auto _ : state) {
        auto line = framewell::frameLineFor(sample, platform::SCStreamOutputType::Screen, crop);
        benchmark::DoNotOptimize(line);
    }
}

// ... and the line's JSON text that is written to standard output.
void BM_FrameAndLine(benchmark::State& state) {
    platform::CMSampleBuffer sample{std::make_shared<const platform::Bitmap>(displayImage())};
    platform::CGRect crop = cropOf(state);
    for (auto _ : state) {
        auto line = framewell::frameLineFor(sample, platform::SCStreamOutputType::Screen, crop);
        benchmark::DoNotOptimize(shared::encodeJson(framewell::frameLineJson(*line)));
    }
}

const platform::Bitmap& desktopImage() {
    static const platform::Bitmap image = [] {
        auto loaded = platform::loadImage(SSP_SOURCE_DIR "/samples/desktop-1080p.png");
        if (!loaded) {
            std::fprintf(stderr, "frame_bench: samples/desktop-1080p.png cannot be read\n");
            std::exit(2);
        }
        return std::move(loaded->bitmap);
    }();
    return image;
}

void BM_DesktopFrame(benchmark::State& state) {
    platform::CMSampleBuffer sample{std::make_shared<const platform::Bitmap>(desktopImage())};
    platform::CGRect crop{0, 0, 1920, 1080};
    std::size_t bytes = 0;
    for (auto _ : state) {
        auto line = framewell::frameLineFor(sample, platform::SCStreamOutputType::Screen, crop);
        bytes = line->pngBase64.size();
        benchmark::DoNotOptimize(framewell::frameLineText(*line));
    }
    state.counters["base64Bytes"] = static_cast<double>(bytes);
}

// A frame whose image the stream handed over before: only the line is made.
void BM_DesktopFrameUnchanged(benchmark::State& state) {
    platform::CMSampleBuffer sample{std::make_shared<const platform::Bitmap>(desktopImage())};
    platform::CGRect crop{0, 0, 1920, 1080};
    framewell::LastFrame last;
    for (auto _ : state) {
        auto line = framewell::frameLineFor(sample, platform::SCStreamOutputType::Screen, crop, &last);
        benchmark::DoNotOptimize(framewell::frameLineText(*line));
    }
}

void BM_DesktopPng(benchmark::State& state) {
    std::size_t bytes = 0;
    for (auto _ : state) {
        auto png = platform::encodePNG(desktopImage(), platform::PngSpeed::Fast);
        bytes = png->size();
        benchmark::DoNotOptimize(png);
    }
    state.counters["pngBytes"] = static_cast<double>(bytes);
}

void appendPng(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<platform::Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

void BM_DesktopLibpngLevel1(benchmark::State& state) {
    const platform::Bitmap& image = desktopImage();
    std::size_t bytes = 0;
    for (auto _ : state) {
        platform::Bytes out;
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        png_set_write_fn(png, &out, appendPng, nullptr);
        png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
        png_set_compression_level(png, 1);
        png_set_IHDR(png, info, image.width, image.height, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
        png_write_info(png, info);
        for (int y = 0; y < image.height; ++y)
            png_write_row(png, image.rgba.data() + static_cast<std::size_t>(y) * image.width * 4);
        png_write_end(png, nullptr);
        png_destroy_write_struct(&png, &info);
        bytes = out.size();
        benchmark::DoNotOptimize(out);
    }
    state.counters["pngBytes"] = static_cast<double>(bytes);
}

void oneFrame(benchmark::internal::Benchmark* b) {
    b->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
}

BENCHMARK(BM_DesktopFrame)->Apply(oneFrame);
BENCHMARK(BM_DesktopFrameUnchanged)->Apply(oneFrame);
BENCHMARK(BM_DesktopPng)->Apply(oneFrame);
BENCHMARK(BM_DesktopLibpngLevel1)->Apply(oneFrame);

void crops(benchmark::internal::Benchmark* b) {
    b->Args({800, 600})->Args({1920, 1080})->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(BM_Crop)->Apply(crops);
BENCHMARK(BM_EncodePngFast)->Apply(crops);
BENCHMARK(BM_Base64)->Apply(crops);
BENCHMARK(BM_Frame)->Apply(crops);
BENCHMARK(BM_FrameAndLine)->Apply(crops);

}  // namespace
