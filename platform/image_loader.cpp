// The image services as the programs call them: each forwards to the codecs module, loaded on first use
// (image_services.h). Without the module every image is one that cannot be loaded or encoded, and one
// line on standard error says why.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/image_services.h"

#if !defined(SSP_MODULE_DIR) || !defined(SSP_INSTALLED_MODULE_DIR)
#error "SSP_MODULE_DIR (relative to the programs' folder) and SSP_INSTALLED_MODULE_DIR name the modules' folder"
#endif

namespace platform {
namespace {

// The module in SSP_MODULE_DIR relative to the folder of the running program, as the system reports it
// (symbolic links resolved).
std::string modulePath() {
    std::string exe(4096, '\0');
    ssize_t n = readlink("/proc/self/exe", exe.data(), exe.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= exe.size()) return SSP_IMAGES_MODULE_NAME;
    exe.resize(static_cast<std::size_t>(n));
    return exe.substr(0, exe.rfind('/') + 1) + SSP_MODULE_DIR "/" SSP_IMAGES_MODULE_NAME;
}

const ImageServices* services() {
    static const ImageServices* const loaded = []() -> const ImageServices* {
        std::string path = modulePath();
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            // A program copied away from its folder: the installed suite's module.
            path = SSP_INSTALLED_MODULE_DIR "/" SSP_IMAGES_MODULE_NAME;
            handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        }
        if (!handle) {
            std::fprintf(stderr, "cannot load the image codecs: %s\n", dlerror());
            return nullptr;
        }
        using Entry = const ImageServices* (*)();
        auto entry = reinterpret_cast<Entry>(dlsym(handle, "ssp_image_services"));
        const ImageServices* table = entry ? entry() : nullptr;
        if (!table || table->size != sizeof(ImageServices)) {
            std::fprintf(stderr, "cannot load the image codecs: %s is not this build's module\n", path.c_str());
            return nullptr;
        }
        return table;
    }();
    return loaded;
}

}  // namespace

std::optional<LoadedImage> decodeImage(const Bytes& bytes) {
    const ImageServices* s = services();
    return s ? s->decode(bytes) : std::nullopt;
}

std::optional<LoadedImage> loadImage(const std::string& path) {
    const ImageServices* s = services();
    return s ? s->load(path) : std::nullopt;
}

std::optional<ImageInfo> inspectImage(const Bytes& bytes) {
    const ImageServices* s = services();
    return s ? s->inspect(bytes) : std::nullopt;
}

std::optional<Bytes> encodePNG(const Bitmap& bitmap, PngSpeed speed) {
    const ImageServices* s = services();
    return s ? s->encodePng(bitmap, speed) : std::nullopt;
}

std::optional<Bytes> encodeTIFF(const Bitmap& bitmap, Resolution dpi) {
    const ImageServices* s = services();
    return s ? s->encodeTiff(bitmap, dpi) : std::nullopt;
}

Resolution resolutionOf(const LoadedImage& image) {
    const ImageServices* s = services();
    return s ? s->resolution(image) : Resolution{};
}

void setPngResolution(Bytes& png, Resolution dpi) {
    if (const ImageServices* s = services()) s->setPngResolution(png, dpi);
}

}  // namespace platform
