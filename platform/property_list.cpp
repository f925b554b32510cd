#include "platform/property_list.h"

#include <plist/plist.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string_view>
#include <vector>

namespace platform {
namespace {

struct PlistDeleter {
    void operator()(plist_t p) const { plist_free(p); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

// The library keeps dates as seconds since 2001 and reads them back through a signed 32-bit number.
constexpr double kEarliestDate = -2147483648.0;
constexpr double kPastLatestDate = 2147483648.0;
constexpr std::int64_t kUnixTo2001 = 978307200;

bool hasZero(const std::string& s) {
    return s.find('\0') != std::string::npos;
}

// Seconds and microseconds of a representable date, the microseconds rounded (never to 1000000).
void splitDate(double s, std::int32_t* sec, std::int32_t* usec) {
    double whole = std::floor(s);
    auto micro = static_cast<std::int64_t>(std::llround((s - whole) * 1e6));
    if (micro >= 1000000 && whole + 1 < kPastLatestDate) {
        whole += 1;
        micro = 0;
    } else if (micro >= 1000000) {
        micro = 999999;
    }
    *sec = static_cast<std::int32_t>(whole);
    *usec = static_cast<std::int32_t>(micro);
}

// The library's node of a value, or nothing when the value has no property-list form. The library reads
// keys and strings up to their first zero character, so those are refused rather than shortened.
plist_t toNode(const Value& v, int depth) {
    if (depth > kMaxPropertyListDepth) return nullptr;
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
            if (hasZero(*v.asString())) return nullptr;
            return plist_new_string(v.asString()->c_str());
        case Value::Kind::Data: {
            const Bytes& b = *v.asData();
            return plist_new_data(reinterpret_cast<const char*>(b.data()), b.size());
        }
        case Value::Kind::Date: {
            if (!dateRepresentable(*v.asDate())) return nullptr;
            std::int32_t sec = 0, usec = 0;
            splitDate(v.asDate()->secondsSince2001, &sec, &usec);
            return plist_new_date(sec, usec);
        }
        case Value::Kind::Array: {
            plist_t arr = plist_new_array();
            for (const Value& e : *v.asArray()) {
                plist_t n = toNode(e, depth + 1);
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
                plist_t n = hasZero(k) ? nullptr : toNode(e, depth + 1);
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

// The date of a node. The library answers dates outside the 32-bit range wrongly (its conversion is
// undefined there), so the node's own XML form is read first for the whole seconds.
std::optional<Date> dateOfNode(plist_t n) {
    char* xml = nullptr;
    std::uint32_t len = 0;
    plist_to_xml(n, &xml, &len);
    if (xml == nullptr) return std::nullopt;
    std::string_view text(xml, len);
    std::size_t open = text.find("<date>");
    std::optional<Date> whole;
    if (open != std::string_view::npos) {
        std::string digits(text.substr(open + 6, 20));
        std::tm tm{};
        char zone = 0;
        if (std::sscanf(digits.c_str(), "%5d-%2d-%2dT%2d:%2d:%2d%c", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                        &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &zone) == 7 &&
            zone == 'Z') {
            tm.tm_year -= 1900;
            tm.tm_mon -= 1;
            whole = Date{static_cast<double>(static_cast<std::int64_t>(timegm(&tm)) - kUnixTo2001)};
        }
    }
    plist_to_xml_free(xml);
    if (!whole || !dateRepresentable(*whole)) return std::nullopt;
    std::int32_t sec = 0, usec = 0;
    plist_get_date_val(n, &sec, &usec);
    return Date{sec + usec / 1e6};
}

std::optional<Value> fromNode(plist_t n, int depth) {
    if (depth > kMaxPropertyListDepth) return std::nullopt;
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
        case PLIST_STRING: {
            // By pointer and length (the library asserts when a string's length and its first zero
            // disagree); the checks before parsing keep zero characters out.
            std::uint64_t length = 0;
            const char* s = plist_get_string_ptr(n, &length);
            std::string out = s ? std::string(s, length) : std::string();
            if (hasZero(out)) return std::nullopt;
            return Value(std::move(out));
        }
        case PLIST_KEY: {
            char* s = nullptr;
            plist_get_key_val(n, &s);
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
            std::optional<Date> date = dateOfNode(n);
            if (!date) return std::nullopt;
            return Value(*date);
        }
        case PLIST_ARRAY: {
            Array out;
            std::uint32_t count = plist_array_get_size(n);
            for (std::uint32_t i = 0; i < count; ++i) {
                auto e = fromNode(plist_array_get_item(n, i), depth + 1);
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
                auto e = fromNode(val, depth + 1);
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

// ------------------------------------------------------------------------------------------------------
// Checks made on the bytes before the library sees them: its readers recurse once per level (a deep
// document overflows the stack), expand shared objects, and assert on keys with a zero character.

std::uint64_t readBigEndian(const std::uint8_t* p, unsigned size) {
    std::uint64_t v = 0;
    for (unsigned i = 0; i < size; ++i) v = (v << 8) | p[i];
    return v;
}

// A binary property list ("bplist00"): object table, offset table and a 32-byte trailer.
class BinaryCheck {
  public:
    explicit BinaryCheck(std::string_view bytes)
        : data_(reinterpret_cast<const std::uint8_t*>(bytes.data())), size_(bytes.size()) {}

    bool acceptable() {
        if (size_ < 8 + 32) return false;
        const std::uint8_t* trailer = data_ + size_ - 32;
        offsetSize_ = trailer[6];
        refSize_ = trailer[7];
        std::uint64_t count = readBigEndian(trailer + 8, 8);
        std::uint64_t top = readBigEndian(trailer + 16, 8);
        std::uint64_t table = readBigEndian(trailer + 24, 8);
        auto widthOk = [](unsigned w) { return w == 1 || w == 2 || w == 4 || w == 8; };
        if (!widthOk(offsetSize_) || !widthOk(refSize_) || count == 0 || top >= count) return false;
        std::uint64_t tableEnd = size_ - 32;
        if (table > tableEnd || count > (tableEnd - table) / offsetSize_) return false;
        table_ = data_ + table;
        count_ = count;
        depth_.assign(count, 0);
        expanded_.assign(count, 0);
        return walk(top);
    }

  private:
    static constexpr std::uint64_t kMaxExpandedObjects = std::uint64_t{1} << 22;
    static constexpr std::uint32_t kVisiting = 0xFFFFFFFF;

    struct Frame {
        std::uint64_t object;
        std::vector<std::uint64_t> children;
        std::size_t next = 0;
        std::uint32_t deepest = 0;
        std::uint64_t expanded = 1;
    };

    // The object's marker offset, or nothing when it lies outside the object table.
    std::optional<std::uint64_t> offsetOf(std::uint64_t object) const {
        std::uint64_t at = readBigEndian(table_ + object * offsetSize_, offsetSize_);
        if (at < 8 || at >= static_cast<std::uint64_t>(table_ - data_)) return std::nullopt;
        return at;
    }

    // The element count of a marker at `at` (its low nibble, or an integer that follows), and where the
    // contents start.
    bool countAt(std::uint64_t at, std::uint64_t* count, std::uint64_t* start) const {
        std::uint8_t low = data_[at] & 0x0F;
        if (low != 0x0F) {
            *count = low;
            *start = at + 1;
            return true;
        }
        if (at + 2 > size_ || (data_[at + 1] & 0xF0) != 0x10) return false;
        unsigned width = 1u << (data_[at + 1] & 0x0F);
        if (width > 8 || at + 2 + width > size_) return false;
        *count = readBigEndian(data_ + at + 2, width);
        *start = at + 2 + width;
        return true;
    }

    // Whether a string object holds no zero character (the library would cut it there, or assert on
    // it as a key).
    bool stringAcceptable(std::uint64_t at) const {
        unsigned kind = data_[at] >> 4;
        std::uint64_t count = 0, start = 0;
        if (!countAt(at, &count, &start)) return false;
        unsigned unit = kind == 0x6 ? 2 : 1;
        if (count > (size_ - start) / unit) return false;
        for (std::uint64_t i = 0; i < count; ++i) {
            if (unit == 1 ? data_[start + i] == 0 : readBigEndian(data_ + start + 2 * i, 2) == 0) return false;
        }
        return true;
    }

    // Whether an object may be a dictionary key: a string without a zero character.
    bool keyAcceptable(std::uint64_t object) const {
        auto at = offsetOf(object);
        if (!at) return false;
        unsigned kind = data_[*at] >> 4;
        return (kind == 0x5 || kind == 0x6) && stringAcceptable(*at);
    }

    // Reads the object's references (empty for objects that are no container); false for a malformed
    // object, a key that could not be read, or a date the library cannot hold.
    bool childrenOf(std::uint64_t object, std::vector<std::uint64_t>* children) const {
        auto at = offsetOf(object);
        if (!at) return false;
        std::uint8_t marker = data_[*at];
        unsigned kind = marker >> 4;
        if (marker == 0x33) {
            if (*at + 9 > size_) return false;
            std::uint64_t bits = readBigEndian(data_ + *at + 1, 8);
            double seconds = 0;
            std::memcpy(&seconds, &bits, sizeof seconds);
            return dateRepresentable(Date{seconds});
        }
        if (kind == 0x5 || kind == 0x6) return stringAcceptable(*at);
        if (kind != 0xA && kind != 0xC && kind != 0xD) return true;
        std::uint64_t count = 0, start = 0;
        if (!countAt(*at, &count, &start)) return false;
        std::uint64_t refs = kind == 0xD ? 2 : 1;
        if (count > (size_ - start) / refSize_ / refs) return false;
        children->clear();
        for (std::uint64_t i = 0; i < count * refs; ++i) {
            std::uint64_t ref = readBigEndian(data_ + start + i * refSize_, refSize_);
            if (ref >= count_) return false;
            if (kind == 0xD && i < count && !keyAcceptable(ref)) return false;
            children->push_back(ref);
        }
        return true;
    }

    // Depth-first over the object graph with an explicit stack: every object's depth and expanded size
    // once, a cycle refused.
    bool walk(std::uint64_t top) {
        std::vector<Frame> stack;
        stack.push_back(Frame{top, {}});
        depth_[top] = kVisiting;
        if (!childrenOf(top, &stack.back().children)) return false;
        while (!stack.empty()) {
            Frame& frame = stack.back();
            if (frame.next < frame.children.size()) {
                std::uint64_t child = frame.children[frame.next++];
                if (depth_[child] == kVisiting) return false;
                if (depth_[child] != 0) {
                    frame.deepest = std::max(frame.deepest, depth_[child]);
                    frame.expanded += expanded_[child];
                    if (frame.expanded > kMaxExpandedObjects) return false;
                    continue;
                }
                if (stack.size() >= static_cast<std::size_t>(kMaxPropertyListDepth)) return false;
                Frame next{child, {}};
                if (!childrenOf(child, &next.children)) return false;
                depth_[child] = kVisiting;
                stack.push_back(std::move(next));
                continue;
            }
            std::uint64_t object = frame.object;
            std::uint32_t depth = frame.deepest + 1;
            std::uint64_t expanded = frame.expanded;
            depth_[object] = depth;
            expanded_[object] = expanded;
            stack.pop_back();
            if (!stack.empty()) {
                Frame& parent = stack.back();
                parent.deepest = std::max(parent.deepest, depth);
                parent.expanded += expanded;
                if (parent.expanded > kMaxExpandedObjects) return false;
            }
        }
        return true;
    }

    const std::uint8_t* data_;
    std::size_t size_;
    const std::uint8_t* table_ = nullptr;
    unsigned offsetSize_ = 0;
    unsigned refSize_ = 0;
    std::uint64_t count_ = 0;
    std::vector<std::uint32_t> depth_;  // 0: not seen yet
    std::vector<std::uint64_t> expanded_;
};

// An XML document: no zero character anywhere (the library takes one inside a string or a key, and
// then cuts the string or asserts on the key), elements nested at most one level more than the values
// (the <plist> element).
bool xmlAcceptable(std::string_view doc) {
    if (doc.find('\0') != std::string_view::npos) return false;
    int depth = 0;
    std::size_t i = 0;
    while (i < doc.size()) {
        if (doc[i] != '<') {
            ++i;
            continue;
        }
        std::string_view rest = doc.substr(i);
        std::size_t end;
        if (rest.starts_with("<!--")) {
            end = doc.find("-->", i + 4);
            if (end == std::string_view::npos) return false;
            i = end + 3;
            continue;
        }
        if (rest.starts_with("<![CDATA[")) {
            end = doc.find("]]>", i + 9);
            if (end == std::string_view::npos) return false;
            i = end + 3;
            continue;
        }
        end = doc.find('>', i);
        if (end == std::string_view::npos) return false;
        std::string_view tag = doc.substr(i + 1, end - i - 1);
        i = end + 1;
        if (tag.starts_with("?") || tag.starts_with("!")) continue;
        if (tag.starts_with("/")) {
            --depth;
        } else if (!tag.ends_with("/") && ++depth > kMaxPropertyListDepth + 1) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool dateRepresentable(Date date) {
    double s = date.secondsSince2001;
    return std::isfinite(s) && s >= kEarliestDate && s < kPastLatestDate;
}

std::optional<Bytes> propertyListXml(const Value& value) {
    PlistPtr node(toNode(value, 1));
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
    PlistPtr node(toNode(value, 1));
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
    std::string_view doc(p, len);
    plist_t node = nullptr;
    if (plist_is_binary(p, len)) {
        if (!BinaryCheck(doc).acceptable()) return std::nullopt;
        plist_from_bin(p, len, &node);
    } else {
        // Only XML documents: libplist's memory reader would also take JSON and OpenStep text.
        std::string_view head(p, std::min<std::size_t>(len, 256));
        if (head.find("<plist") == std::string_view::npos && head.find("<?xml") == std::string_view::npos)
            return std::nullopt;
        if (!xmlAcceptable(doc)) return std::nullopt;
        plist_from_xml(p, len, &node);
    }
    if (!node) return std::nullopt;
    PlistPtr owner(node);
    return fromNode(node, 1);
}

}  // namespace platform
