#include "platform/screen_capture.h"

namespace platform {

std::string ErrorObject::fullDescription() const {
    return "Error Domain=" + domain + " Code=" + std::to_string(code) + " \"" + localizedDescription +
           "\" UserInfo={NSLocalizedDescription=" + localizedDescription + "}";
}

}  // namespace platform
