#include "platform/pasteboard.h"

#include <algorithm>

#include "platform/property_list.h"
#include "platform/utf8.h"

namespace platform {

SharedBytes Representation::data() const {
    if (!(answers & AnswersData)) return nullptr;
    switch (kind) {
        case RepresentationKind::Data:
            return value.sharedData();
        case RepresentationKind::String:
            if (auto* s = value.asString()) return std::make_shared<const Bytes>(s->begin(), s->end());
            return nullptr;
        case RepresentationKind::PropertyList:
            if (auto xml = propertyListXml(value)) return std::make_shared<const Bytes>(std::move(*xml));
            return nullptr;
    }
    return nullptr;
}

std::optional<std::string> Representation::string() const {
    if (!(answers & AnswersString)) return std::nullopt;
    if (kind == RepresentationKind::String) {
        if (auto* s = value.asString()) return *s;
        return std::nullopt;
    }
    std::optional<Bytes> bytes;
    if (kind == RepresentationKind::Data) {
        if (auto* b = value.asData()) bytes = *b;
    } else {
        bytes = propertyListXml(value);
    }
    if (!bytes) return std::nullopt;
    std::string text(bytes->begin(), bytes->end());
    if (!isValidUtf8(text)) return std::nullopt;
    return text;
}

std::optional<Value> Representation::propertyList() const {
    if (!(answers & AnswersPropertyList)) return std::nullopt;
    if (kind == RepresentationKind::PropertyList) return value;
    Bytes bytes;
    if (auto* b = value.asData()) bytes = *b;
    if (auto* s = value.asString()) bytes.assign(s->begin(), s->end());
    if (auto parsed = parsePropertyList(bytes)) return parsed;
    std::string text(bytes.begin(), bytes.end());
    if (!isValidUtf8(text)) return std::nullopt;
    return Value(std::move(text));
}

void PasteboardItem::set(Representation rep) {
    auto it = std::find_if(reps_.begin(), reps_.end(), [&](const auto& r) { return r.type == rep.type; });
    if (it != reps_.end()) {
        *it = std::move(rep);
    } else {
        reps_.push_back(std::move(rep));
    }
}

void PasteboardItem::setString(std::string string, const std::string& type) {
    set({type, RepresentationKind::String, Value(std::move(string))});
}

void PasteboardItem::setData(Bytes data, const std::string& type) {
    set({type, RepresentationKind::Data, Value(std::move(data))});
}

void PasteboardItem::setData(SharedBytes data, const std::string& type) {
    set({type, RepresentationKind::Data, data ? Value(std::move(data)) : Value(Bytes{})});
}

void PasteboardItem::setPropertyList(Value plist, const std::string& type) {
    set({type, RepresentationKind::PropertyList, std::move(plist)});
}

std::vector<std::string> PasteboardItem::types() const {
    std::vector<std::string> out;
    out.reserve(reps_.size());
    for (const auto& r : reps_) out.push_back(r.type);
    return out;
}

const Representation* PasteboardItem::representation(const std::string& type) const {
    for (const auto& r : reps_)
        if (r.type == type) return &r;
    return nullptr;
}

SharedBytes PasteboardItem::dataForType(const std::string& type) const {
    const Representation* r = representation(type);
    return r ? r->data() : nullptr;
}

std::optional<std::string> PasteboardItem::stringForType(const std::string& type) const {
    const Representation* r = representation(type);
    return r ? r->string() : std::nullopt;
}

std::optional<Value> PasteboardItem::propertyListForType(const std::string& type) const {
    const Representation* r = representation(type);
    return r ? r->propertyList() : std::nullopt;
}

}  // namespace platform
