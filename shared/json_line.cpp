#include "shared/json_line.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <vector>

#include "platform/utf8.h"
#include "shared/last_answer.h"

namespace shared {
namespace {

bool appendString(std::string& out, const std::string& s) {
    if (!platform::isValidUtf8(s)) return false;
    out += '"';
    for (unsigned char c : s) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '/':
                out += "\\/";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    out += '"';
    return true;
}

template <typename T>
void appendNumber(std::string& out, T v) {
    char buf[40];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

bool append(std::string& out, const Json& v, KeyOrder order) {
    switch (v.type()) {
        case Json::value_t::null:
            out += "null";
            return true;
        case Json::value_t::boolean:
            out += v.get<bool>() ? "true" : "false";
            return true;
        case Json::value_t::number_integer:
            appendNumber(out, v.get<std::int64_t>());
            return true;
        case Json::value_t::number_unsigned:
            appendNumber(out, v.get<std::uint64_t>());
            return true;
        case Json::value_t::number_float: {
            double d = v.get<double>();
            if (!std::isfinite(d)) return false;
            appendNumber(out, d);  // shortest form that reads back the same: 1512, 0.5, 1e+20
            return true;
        }
        case Json::value_t::string:
            return appendString(out, v.get_ref<const std::string&>());
        case Json::value_t::array: {
            out += '[';
            bool first = true;
            for (const Json& e : v) {
                if (!first) out += ',';
                first = false;
                if (!append(out, e, order)) return false;
            }
            out += ']';
            return true;
        }
        case Json::value_t::object: {
            std::vector<std::pair<const std::string*, const Json*>> members;
            members.reserve(v.size());
            for (auto it = v.begin(); it != v.end(); ++it) members.emplace_back(&it.key(), &it.value());
            if (order == KeyOrder::Sorted) {
                std::sort(members.begin(), members.end(),
                          [](const auto& a, const auto& b) { return *a.first < *b.first; });
            }
            out += '{';
            bool first = true;
            for (const auto& [key, value] : members) {
                if (!first) out += ',';
                first = false;
                if (!appendString(out, *key)) return false;
                out += ':';
                if (!append(out, *value, order)) return false;
            }
            out += '}';
            return true;
        }
        case Json::value_t::binary:
        case Json::value_t::discarded:
            return false;
    }
    return false;
}

}  // namespace

std::optional<std::string> encodeJson(const Json& value, KeyOrder order) {
    std::string out;
    if (!append(out, value, order)) return std::nullopt;
    return out;
}

EmitStatus emitJsonLine(const Json& value, KeyOrder order, std::FILE* out) {
    std::optional<std::string> text = encodeJson(value, order);
    if (!text) return EmitStatus::NotEncodable;
    text->push_back('\n');
    bool written = std::fwrite(text->data(), 1, text->size(), out) == text->size();
    written = std::fflush(out) == 0 && written;
    if (out == stdout) noteLineWritten();
    if (written) return EmitStatus::Written;
    std::clearerr(out);
    return EmitStatus::WriteFailed;
}

}  // namespace shared
