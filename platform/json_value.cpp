#include "platform/json_value.h"

namespace platform {

Value valueFromJson(const nlohmann::json& j) {
    switch (j.type()) {
        case nlohmann::json::value_t::boolean:
            return Value(j.get<bool>());
        case nlohmann::json::value_t::number_integer:
            return Value(j.get<std::int64_t>());
        case nlohmann::json::value_t::number_unsigned: {
            auto u = j.get<std::uint64_t>();
            if (u > static_cast<std::uint64_t>(INT64_MAX)) return Value(static_cast<double>(u));
            return Value(static_cast<std::int64_t>(u));
        }
        case nlohmann::json::value_t::number_float:
            return Value(j.get<double>());
        case nlohmann::json::value_t::string:
            return Value(j.get<std::string>());
        case nlohmann::json::value_t::array: {
            Array a;
            a.reserve(j.size());
            for (const auto& e : j) a.push_back(valueFromJson(e));
            return Value(std::move(a));
        }
        case nlohmann::json::value_t::object: {
            Dictionary d;
            for (auto it = j.begin(); it != j.end(); ++it) d.emplace(it.key(), valueFromJson(it.value()));
            return Value(std::move(d));
        }
        default:
            return Value();
    }
}

}  // namespace platform
