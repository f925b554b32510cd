// The entry point of the image codecs module (image_services.h).
#include "platform/image_services.h"

extern "C" const platform::ImageServices* ssp_image_services() {
    static const platform::ImageServices services{
        sizeof(platform::ImageServices),
        &platform::decodeImage,
        &platform::loadImage,
        &platform::inspectImage,
        &platform::encodePNG,
        &platform::encodeTIFF,
        &platform::resolutionOf,
        &platform::setPngResolution,
    };
    return &services;
}
