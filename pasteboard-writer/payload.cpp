#include "pasteboard-writer/payload.h"

#include <nlohmann/json.hpp>

namespace clipforge {
namespace {

using nlohmann::json;

// A present, non-null member, or nullptr.
const json* member(const json& object, const char* key) {
    auto it = object.find(key);
    return it == object.end() || it->is_null() ? nullptr : &*it;
}

}  // namespace

std::optional<Payload> decodePayload(std::string_view input) {
    // The JSON reader takes a zero byte for the end of its input, so that whatever follows one would go
    // unread; JSON text never holds one raw (inside a string it is written \u0000).
    if (input.size() > kMaxPayloadBytes || input.find('\0') != std::string_view::npos) return std::nullopt;
    json doc = json::parse(input.begin(), input.end(), nullptr, false);
    if (doc.is_discarded() || !doc.is_object()) return std::nullopt;

    Payload payload;
    const json* text = member(doc, "text");
    const json* paths = member(doc, "imagePaths");
    if (!text || !text->is_string() || !paths || !paths->is_array()) return std::nullopt;
    payload.text = text->get<std::string>();
    for (const json& p : *paths) {
        if (!p.is_string()) return std::nullopt;
        payload.imagePaths.push_back(p.get<std::string>());
    }
    for (auto [key, field] :
         {std::pair{"cursorMode", &payload.cursorMode}, {"visualMode", &payload.visualMode}}) {
        if (const json* v = member(doc, key)) {
            if (!v->is_boolean()) return std::nullopt;
            *field = v->get<bool>();
        }
    }
    if (const json* v = member(doc, "visualStrategy")) {
        if (!v->is_string()) return std::nullopt;
        payload.visualStrategy = v->get<std::string>();
    }
    return payload;
}

shared::Json resultJson(const Result& r) {
    shared::Json out;
    out["ok"] = r.ok;
    if (r.types) out["types"] = *r.types;
    if (r.error) out["error"] = *r.error;
    if (r.mode) out["mode"] = *r.mode;
    if (r.itemCount) out["itemCount"] = *r.itemCount;
    if (r.changeCount) out["changeCount"] = *r.changeCount;
    return out;
}

shared::Json pathsFilteredWarning(std::size_t requested, std::size_t existing) {
    shared::Json out;
    out["warn"] = "paths_filtered";
    out["requested"] = requested;
    out["existing"] = existing;
    return out;
}

}  // namespace clipforge
