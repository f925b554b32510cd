// JSON documents as platform values: objects become dictionaries, integers integers, other numbers reals.
#pragma once

#include <nlohmann/json.hpp>

#include "platform/value.h"

namespace platform {

Value valueFromJson(const nlohmann::json& json);

}  // namespace platform
