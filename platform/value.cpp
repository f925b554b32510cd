#include "platform/value.h"

namespace platform {

std::optional<bool> Value::asBool() const {
    if (auto* p = std::get_if<bool>(&v_)) return *p;
    return std::nullopt;
}

std::optional<std::int64_t> Value::asInteger() const {
    if (auto* p = std::get_if<std::int64_t>(&v_)) return *p;
    return std::nullopt;
}

std::optional<double> Value::asReal() const {
    if (auto* p = std::get_if<double>(&v_)) return *p;
    return std::nullopt;
}

std::optional<double> Value::asNumber() const {
    if (auto* p = std::get_if<double>(&v_)) return *p;
    if (auto* p = std::get_if<std::int64_t>(&v_)) return static_cast<double>(*p);
    return std::nullopt;
}

const std::string* Value::asString() const {
    if (auto* p = std::get_if<std::shared_ptr<const std::string>>(&v_)) return p->get();
    return nullptr;
}

const Bytes* Value::asData() const {
    if (auto* p = std::get_if<SharedBytes>(&v_)) return p->get();
    return nullptr;
}

SharedBytes Value::sharedData() const {
    if (auto* p = std::get_if<SharedBytes>(&v_)) return *p;
    return nullptr;
}

std::optional<Date> Value::asDate() const {
    if (auto* p = std::get_if<Date>(&v_)) return *p;
    return std::nullopt;
}

const Array* Value::asArray() const {
    if (auto* p = std::get_if<std::shared_ptr<const Array>>(&v_)) return p->get();
    return nullptr;
}

const Dictionary* Value::asDictionary() const {
    if (auto* p = std::get_if<std::shared_ptr<const Dictionary>>(&v_)) return p->get();
    return nullptr;
}

const Value* Value::find(const std::string& key) const {
    const Dictionary* d = asDictionary();
    if (!d) return nullptr;
    auto it = d->find(key);
    return it == d->end() ? nullptr : &it->second;
}

bool Value::operator==(const Value& other) const {
    if (kind() != other.kind()) return false;
    if (auto* a = asArray()) return *a == *other.asArray();
    if (auto* d = asDictionary()) return *d == *other.asDictionary();
    if (auto* b = asData()) return *b == *other.asData();
    if (auto* s = asString()) return *s == *other.asString();
    return v_ == other.v_;
}

std::optional<std::vector<std::string>> stringArray(const Value& v) {
    const Array* a = v.asArray();
    if (!a) return std::nullopt;
    std::vector<std::string> out;
    out.reserve(a->size());
    for (const Value& e : *a) {
        const std::string* s = e.asString();
        if (!s) return std::nullopt;
        out.push_back(*s);
    }
    return out;
}

}  // namespace platform
