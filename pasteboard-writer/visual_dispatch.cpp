#include "pasteboard-writer/visual_dispatch.h"

namespace clipforge {

// Placeholder until the strategies land: writes nothing.
StrategyOutcome writeVisualPayload(platform::Pasteboard&, const std::vector<std::string>& imagePaths,
                                   const std::string&, const std::string&) {
    if (imagePaths.empty()) return {false, "visual-empty"};
    return {false, "visual-empty"};
}

}  // namespace clipforge
