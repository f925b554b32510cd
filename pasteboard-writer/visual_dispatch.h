// The visual path: a destination-specific strategy chosen by name.
#pragma once

#include <string>
#include <vector>

#include "platform/pasteboard.h"

namespace clipforge {

// What a strategy answers: whether it counts its write as a success, and how it wrote.
struct StrategyOutcome {
    bool ok = false;
    std::string mode;
};

// Runs the strategy named `strategy` over the existing paths, on a pasteboard already cleared.
StrategyOutcome writeVisualPayload(platform::Pasteboard& pb, const std::vector<std::string>& imagePaths,
                                   const std::string& strategy, const std::string& companionText);

}  // namespace clipforge
