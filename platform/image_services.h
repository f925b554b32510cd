// The image codecs live in a module of their own (ssp-images.so, in lib/ssp-suite beside the programs'
// folder), loaded on the first call of an image service: a run that never decodes or encodes an image
// does not pay at its start for loading libpng, libjpeg, libtiff, libwebp, giflib and libexif. The
// programs call the functions of images.h as declared; image_loader.cpp defines them by forwarding
// through this table, which the module's entry point answers.
#pragma once

#include <cstddef>

#include "platform/image_info.h"
#include "platform/images.h"

namespace platform {

struct ImageServices {
    std::size_t size;  // sizeof(ImageServices) of the module's build: a stale module is refused
    decltype(&platform::decodeImage) decode;
    decltype(&platform::loadImage) load;
    decltype(&platform::inspectImage) inspect;
    decltype(&platform::encodePNG) encodePng;
    decltype(&platform::encodeTIFF) encodeTiff;
    decltype(&platform::resolutionOf) resolution;
    decltype(&platform::setPngResolution) setPngResolution;
};

}  // namespace platform

// The module's entry point.
extern "C" const platform::ImageServices* ssp_image_services();

#define SSP_IMAGES_MODULE_NAME "ssp-images.so"
