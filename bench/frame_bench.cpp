// One framewell frame, in process: the crop out of the display image, the PNG encoding and the base64
// text, for the crops the host typically asks for. The display image is the sandbox's generated one.
//
//   cmake -S . -B build-bench -G Ninja -DSSP_BUILD_BENCH=ON -DCMAKE_BUILD_TYPE=Release
//   cmake --build build-bench --target frame_bench && build-bench/bin/frame_bench
#include <benchmark/benchmark.h>

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

void crops(benchmark::internal::Benchmark* b) {
    b->Args({800, 600})->Args({1920, 1080})->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(BM_Crop)->Apply(crops);
BENCHMARK(BM_EncodePngFast)->Apply(crops);
BENCHMARK(BM_Base64)->Apply(crops);
BENCHMARK(BM_Frame)->Apply(crops);
BENCHMARK(BM_FrameAndLine)->Apply(crops);

}  // namespace
