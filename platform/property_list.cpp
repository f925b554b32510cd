#include "platform/property_list.h"

#include <plist/plist.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace platform {
namespace {

struct PlistDeleter {
    void operator()(plist_t p) const { plist_free(p); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

plist_t toNode(const Value& v) {
    switch (v.kind()) {
        case Value::Kind::Null:
            return nullptr;
        case Value::Kind::Bool:
            return plist_new_bool(*v.asBool() ? 1 : 0);
        case Value::Kind::Integer: {
            std::int64_t i = *v.asInteger();
            plist_t node = plist_new_uint(static_cast<std::uint64_t>(i));
            return node;
        }
        case Value::Kind::Real:
            return plist_new_real(*v.asReal());
        case Value::Kind::String:
            return plist_new_string(v.asString()->c_str());
        case Value::Kind::Data: {
            const Bytes& b = *v.asData();
            return plist_new_data(reinterpret_cast<const char*>(b.data()), b.size());
        }
        case Value::Kind::Date: {
            // libplist keeps dates relative to 2001 in seconds and microseconds.
            double s = v.asDate()->secondsSince2001;
            double whole = std::floor(s);
            return plist_new_date(static_cast<std::int32_t>(whole),
                                  static_cast<std::int32_t>((s - whole) * 1e6));
        }
        case Value::Kind::Array: {
            plist_t arr = plist_new_array();
            for (const Value& e : *v.asArray()) {
                plist_t n = toNode(e);
                if (!n) {
                    plist_free(arr);
                    return nullptr;
                }
                plist_array_append_item(arr, n);
            }
            return arr;
        }
        case Value::Kind::Dictionary: {
            plist_t dict = plist_new_dict();
            for (const auto& [k, e] : *v.asDictionary()) {
                plist_t n = toNode(e);
                if (!n) {
                    plist_free(dict);
                    return nullptr;
                }
                plist_dict_set_item(dict, k.c_str(), n);
            }
            return dict;
        }
    }
    return nullptr;
}

std::optional<Value> fromNode(plist_t n) {
    switch (plist_get_node_type(n)) {
        case PLIST_BOOLEAN: {
            std::uint8_t b = 0;
            plist_get_bool_val(n, &b);
            return Value(b != 0);
        }
        case PLIST_UINT: {
            std::uint64_t u = 0;
            plist_get_uint_val(n, &u);
            return Value(static_cast<std::int64_t>(u));
        }
        case PLIST_REAL: {
            double d = 0;
            plist_get_real_val(n, &d);
            return Value(d);
        }
        case PLIST_STRING:
        case PLIST_KEY: {
            char* s = nullptr;
            if (plist_get_node_type(n) == PLIST_KEY) {
                plist_get_key_val(n, &s);
            } else {
                plist_get_string_val(n, &s);
            }
            std::string out = s ? s : "";
            free(s);
            return Value(std::move(out));
        }
        case PLIST_DATA: {
            char* d = nullptr;
            std::uint64_t len = 0;
            plist_get_data_val(n, &d, &len);
            Bytes out(d, d + len);
            free(d);
            return Value(std::move(out));
        }
        case PLIST_DATE: {
            std::int32_t sec = 0, usec = 0;
            plist_get_date_val(n, &sec, &usec);
            return Value(Date{sec + usec / 1e6});
        }
        case PLIST_ARRAY: {
            Array out;
            std::uint32_t count = plist_array_get_size(n);
            for (std::uint32_t i = 0; i < count; ++i) {
                auto e = fromNode(plist_array_get_item(n, i));
                if (!e) return std::nullopt;
                out.push_back(std::move(*e));
            }
            return Value(std::move(out));
        }
        case PLIST_DICT: {
            Dictionary out;
            plist_dict_iter it = nullptr;
            plist_dict_new_iter(n, &it);
            for (;;) {
                char* key = nullptr;
                plist_t val = nullptr;
                plist_dict_next_item(n, it, &key, &val);
                if (!val) {
                    free(key);
                    break;
                }
                auto e = fromNode(val);
                std::string k = key ? key : "";
                free(key);
                if (!e) {
                    free(it);
                    return std::nullopt;
                }
                out.emplace(std::move(k), std::move(*e));
            }
            free(it);
            return Value(std::move(out));
        }
        default:
            return std::nullopt;
    }
}

}  // namespace

std::optional<Bytes> propertyListXml(const Value& value) {
    PlistPtr node(toNode(value));
    if (!node) return std::nullopt;
    char* xml = nullptr;
    std::uint32_t len = 0;
    plist_to_xml(node.get(), &xml, &len);
    if (!xml) return std::nullopt;
    Bytes out(xml, xml + len);
    plist_to_xml_free(xml);
    return out;
}

std::optional<Bytes> propertyListBinary(const Value& value) {
    PlistPtr node(toNode(value));
    if (!node) return std::nullopt;
    char* bin = nullptr;
    std::uint32_t len = 0;
    plist_to_bin(node.get(), &bin, &len);
    if (!bin) return std::nullopt;
    Bytes out(bin, bin + len);
    plist_to_bin_free(bin);
    return out;
}

std::optional<Value> parsePropertyList(const Bytes& bytes) {
    if (bytes.empty() || bytes.size() > UINT32_MAX) return std::nullopt;
    const char* p = reinterpret_cast<const char*>(bytes.data());
    auto len = static_cast<std::uint32_t>(bytes.size());
    plist_t node = nullptr;
    if (plist_is_binary(p, len)) {
        plist_from_bin(p, len, &node);
    } else {
        // Only XML documents: libplist's memory reader would also take JSON and OpenStep text.
        std::string_view head(p, std::min<std::size_t>(len, 256));
        if (head.find("<plist") == std::string_view::npos && head.find("<?xml") == std::string_view::npos)
            return std::nullopt;
        plist_from_xml(p, len, &node);
    }
    if (!node) return std::nullopt;
    PlistPtr owner(node);
    return fromNode(node);
}

}  // namespace platform
