#include "platform/x11/screen_capture.h"

#include "platform/x11/connection.h"

namespace platform::x11 {

bool screenCaptureAvailable() {
    return display() != nullptr;
}

void getShareableContent(bool, bool, std::function<void(Result<SCShareableContent>)> completion) {
    completion(ErrorObject{"org.x.ssp", -1, "not yet served"});
}

void captureImage(const SCContentFilter&, const SCStreamConfiguration&,
                  std::function<void(Result<Bitmap>)> completion) {
    completion(ErrorObject{"org.x.ssp", -1, "not yet served"});
}

std::unique_ptr<SCStream> makeStream(const SCContentFilter&, const SCStreamConfiguration&) {
    return nullptr;
}

}  // namespace platform::x11
