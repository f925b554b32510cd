// Writes samples/desktop-1080p.png: a 1920 x 1080 desktop of the kind the frame benchmarks encode: a
// wallpaper gradient, an editor with anti-aliased "code" in syntax colours, a terminal, a photo with
// grain and a panel. Not part of the build; to run it again from the repository root:
//   g++ -std=c++20 -O2 -I. samples/generate_desktop_frame.cpp platform/images.cpp platform/png_encoder.cpp
//       -o /tmp/generate_desktop_frame
//       $(pkg-config --cflags --libs libpng16 libjpeg libtiff-4 libwebp libgif libexif libisal) &&
//       /tmp/generate_desktop_frame
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>

#include "platform/images.h"

using platform::Bitmap;

namespace {

std::mt19937 rng(20240611);

struct Rgb {
    int r, g, b;
};

void put(Bitmap& b, int x, int y, Rgb c, double coverage = 1) {
    if (x < 0 || y < 0 || x >= b.width || y >= b.height || coverage <= 0) return;
    std::uint8_t* p = b.rgba.data() + (std::size_t(y) * b.width + x) * 4;
    coverage = std::min(coverage, 1.0);
    p[0] = std::uint8_t(std::lround(p[0] + (c.r - p[0]) * coverage));
    p[1] = std::uint8_t(std::lround(p[1] + (c.g - p[1]) * coverage));
    p[2] = std::uint8_t(std::lround(p[2] + (c.b - p[2]) * coverage));
    p[3] = 255;
}

void fill(Bitmap& b, int x0, int y0, int w, int h, Rgb c) {
    for (int y = y0; y < y0 + h; ++y)
        for (int x = x0; x < x0 + w; ++x) put(b, x, y, c);
}

// A glyph of a 7 x 12 cell: a few random strokes, drawn with soft edges as a rasterised font has.
void glyph(Bitmap& b, int x0, int y0, Rgb c) {
    static const int shapes[][4] = {{1, 3, 1, 10}, {5, 3, 5, 10}, {1, 3, 5, 3}, {1, 10, 5, 10},
                                    {1, 6, 5, 6},  {3, 1, 3, 10}, {1, 10, 5, 3}, {1, 3, 5, 10}};
    int strokes = 1 + int(rng() % 3);
    for (int s = 0; s < strokes; ++s) {
        const int* l = shapes[rng() % 8];
        for (int t = 0; t <= 16; ++t) {
            double fx = l[0] + (l[2] - l[0]) * t / 16.0, fy = l[1] + (l[3] - l[1]) * t / 16.0;
            int ix = int(fx), iy = int(fy);
            double ax = fx - ix, ay = fy - iy;
            put(b, x0 + ix, y0 + iy, c, 0.9 * (1 - ax) * (1 - ay) + 0.3);
            put(b, x0 + ix + 1, y0 + iy, c, 0.6 * ax);
            put(b, x0 + ix, y0 + iy + 1, c, 0.6 * ay);
        }
    }
}

void textLines(Bitmap& b, int x0, int y0, int w, int h, const std::vector<Rgb>& palette, int lineHeight) {
    for (int y = y0 + 6; y + lineHeight < y0 + h; y += lineHeight) {
        int indent = int(rng() % 6) * 2 * 7;
        int length = int(rng() % (w / 7 - 4));
        if (rng() % 7 == 0) continue;  // an empty line
        Rgb c = palette[rng() % palette.size()];
        for (int i = 0; i < length && x0 + indent + (i + 1) * 7 < x0 + w; ++i) {
            if (rng() % 6 == 0) {
                c = palette[rng() % palette.size()];
                continue;  // a blank between words
            }
            glyph(b, x0 + indent + i * 7, y, c);
        }
    }
}

void window(Bitmap& b, int x, int y, int w, int h, Rgb body, Rgb bar) {
    // A soft shadow, the title bar with its buttons, then the body.
    for (int s = 1; s <= 8; ++s)
        for (int i = 0; i < w; ++i) put(b, x + i + 4, y + h + s, Rgb{0, 0, 0}, 0.05 * (9 - s) / 8);
    fill(b, x, y, w, 28, bar);
    fill(b, x + 10, y + 9, 11, 11, Rgb{255, 95, 87});
    fill(b, x + 28, y + 9, 11, 11, Rgb{254, 188, 46});
    fill(b, x + 46, y + 9, 11, 11, Rgb{40, 200, 64});
    fill(b, x, y + 28, w, h - 28, body);
}

// Smooth value noise over a few octaves plus grain: a photograph's texture.
void photo(Bitmap& b, int x0, int y0, int w, int h) {
    std::vector<double> lattice(64 * 64);
    for (double& v : lattice) v = std::uniform_real_distribution<double>(0, 1)(rng);
    auto noise = [&](double x, double y) {
        int ix = int(std::floor(x)), iy = int(std::floor(y));
        double fx = x - ix, fy = y - iy;
        auto at = [&](int i, int j) { return lattice[((j & 63) * 64) + (i & 63)]; };
        double top = at(ix, iy) * (1 - fx) + at(ix + 1, iy) * fx;
        double bottom = at(ix, iy + 1) * (1 - fx) + at(ix + 1, iy + 1) * fx;
        return top * (1 - fy) + bottom * fy;
    };
    std::normal_distribution<double> grain(0, 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            double n = 0.5 * noise(x / 90.0, y / 90.0) + 0.3 * noise(x / 30.0, y / 30.0) + 0.2 * noise(x / 8.0, y / 8.0);
            double sky = double(h - y) / h;
            Rgb c{int(60 + 140 * n + 40 * sky + grain(rng)), int(90 + 110 * n + 30 * sky + grain(rng)),
                  int(70 + 60 * n + 120 * sky + grain(rng))};
            c = Rgb{std::clamp(c.r, 0, 255), std::clamp(c.g, 0, 255), std::clamp(c.b, 0, 255)};
            put(b, x0 + x, y0 + y, c);
        }
}

}  // namespace

int main() {
    const int width = 1920, height = 1080;
    Bitmap b{width, height, std::vector<std::uint8_t>(std::size_t(width) * height * 4)};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            put(b, x, y, Rgb{30 + 60 * x / width, 40 + 50 * y / height, 90 + 80 * (x + y) / (width + height)});
    fill(b, 0, 0, width, 30, Rgb{236, 236, 240});
    for (int i = 0; i < 6; ++i) textLines(b, 20 + i * 90, 4, 70, 24, {{40, 40, 48}}, 18);

    window(b, 60, 70, 1100, 900, Rgb{30, 31, 36}, Rgb{50, 52, 58});
    fill(b, 60, 98, 220, 872, Rgb{37, 38, 44});  // the file tree
    textLines(b, 72, 104, 200, 860, {{170, 170, 180}, {120, 160, 220}}, 20);
    textLines(b, 300, 104, 850, 860,
              {{220, 220, 220}, {198, 120, 221}, {97, 175, 239}, {152, 195, 121}, {229, 192, 123}, {127, 132, 142}}, 19);

    window(b, 1180, 70, 700, 430, Rgb{12, 12, 14}, Rgb{60, 60, 64});
    textLines(b, 1190, 104, 680, 390, {{200, 200, 200}, {80, 220, 100}, {240, 240, 120}}, 16);

    window(b, 1180, 530, 700, 470, Rgb{246, 246, 248}, Rgb{222, 222, 226});
    photo(b, 1200, 570, 660, 380);

    fill(b, 0, 1040, width, 40, Rgb{24, 24, 28});
    for (int i = 0; i < 10; ++i) fill(b, 700 + i * 52, 1046, 28, 28, Rgb{80 + i * 15, 120, 200 - i * 10});

    auto png = platform::encodePNG(b);
    if (!png) return 1;
    std::ofstream("samples/desktop-1080p.png", std::ios::binary)
        .write(reinterpret_cast<const char*>(png->data()), std::streamsize(png->size()));
    std::printf("samples/desktop-1080p.png: %zu bytes\n", png->size());
    return 0;
}
