#include "pasteboard-forensics/representation.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/base64.h"
#include "platform/digest.h"
#include "platform/property_list.h"
#include "platform/unicode.h"
#include "platform/utf8.h"

namespace forensics {
namespace {

Payload wrap(platform::Bytes bytes, const char* encoding) {
    return Payload{std::make_shared<const platform::Bytes>(std::move(bytes)), encoding};
}

std::optional<Payload> binaryPropertyList(const std::optional<platform::Value>& value) {
    if (!value) return std::nullopt;
    auto binary = platform::propertyListBinary(*value);
    if (!binary) return std::nullopt;
    return wrap(std::move(*binary), encodingPlistBinary);
}

// Valid UTF-8 of any bytes: each ill-formed byte becomes U+FFFD.
std::string lossyUtf8(std::string_view bytes) {
    if (platform::isValidUtf8(bytes)) return std::string(bytes);
    std::string out;
    std::size_t i = 0;
    while (i < bytes.size()) {
        // The longest prefix of at most four bytes that is one well-formed character.
        std::size_t len = 0;
        for (std::size_t n = 1; n <= 4 && i + n <= bytes.size(); ++n) {
            if (platform::isValidUtf8(bytes.substr(i, n))) {
                len = n;
                break;
            }
        }
        if (len == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(bytes.substr(i, len));
            i += len;
        }
    }
    return out;
}

// A readable rendering of a property-list value, for values that have no XML text.
void describe(const platform::Value& v, std::string& out) {
    using Kind = platform::Value::Kind;
    switch (v.kind()) {
        case Kind::Null:
            out += "(null)";
            break;
        case Kind::Bool:
            out += *v.asBool() ? "1" : "0";
            break;
        case Kind::Integer:
            out += std::to_string(*v.asInteger());
            break;
        case Kind::Real: {
            char buf[40];
            std::snprintf(buf, sizeof buf, "%.17g", *v.asReal());
            out += buf;
            break;
        }
        case Kind::String:
            out += "\"" + lossyUtf8(*v.asString()) + "\"";
            break;
        case Kind::Data: {
            const platform::Bytes& b = *v.asData();
            out += "{length = " + std::to_string(b.size()) + "}";
            break;
        }
        case Kind::Date:
            out += std::to_string(v.asDate()->secondsSince2001);
            break;
        case Kind::Array: {
            out += "(";
            bool first = true;
            for (const auto& e : *v.asArray()) {
                out += first ? "" : ", ";
                first = false;
                describe(e, out);
            }
            out += ")";
            break;
        }
        case Kind::Dictionary: {
            out += "{";
            for (const auto& [k, e] : *v.asDictionary()) {
                out += lossyUtf8(k) + " = ";
                describe(e, out);
                out += "; ";
            }
            out += "}";
            break;
        }
    }
}

// The property-list parser reads binary lists and XML documents; anything else is not worth copying.
bool mayBePropertyList(const platform::Bytes& bytes) {
    static constexpr std::string_view kBinaryMagic = "bplist";
    std::string_view head(reinterpret_cast<const char*>(bytes.data()),
                          std::min<std::size_t>(bytes.size(), 256));
    return head.starts_with(kBinaryMagic) || head.find("<plist") != std::string_view::npos ||
           head.find("<?xml") != std::string_view::npos;
}

}  // namespace

Payload payload(const std::string& type, const platform::PasteboardItem* item,
                platform::Pasteboard& pasteboard) {
    if (item) {
        if (auto data = item->dataForType(type)) return Payload{std::move(data), encodingData};
        if (auto text = item->stringForType(type))
            return wrap(platform::Bytes(text->begin(), text->end()), encodingUtf8String);
        if (auto plist = binaryPropertyList(item->propertyListForType(type))) return std::move(*plist);
    }
    if (auto data = pasteboard.dataForType(type)) return Payload{std::move(data), encodingData};
    if (auto plist = binaryPropertyList(pasteboard.propertyListForType(type))) return std::move(*plist);
    return Payload{};
}

std::string DigestCache::sha256Hex(const std::shared_ptr<const platform::Bytes>& bytes) {
    // Below this size hashing costs less than remembering and comparing.
    constexpr std::size_t kWorthKeeping = 4096;
    if (bytes->size() < kWorthKeeping) return platform::sha256Hex(*bytes);
    for (const Entry& e : entries_) {
        if (e.bytes->size() != bytes->size()) continue;
        if (e.bytes == bytes || std::memcmp(e.bytes->data(), bytes->data(), bytes->size()) == 0)
            return e.digest;
    }
    entries_.push_back({bytes, platform::sha256Hex(*bytes)});
    return entries_.back().digest;
}

RepresentationForensics forensicsRep(const std::string& type, const Payload& p, DigestCache& digests) {
    RepresentationForensics r;
    r.type = type;
    r.encoding = p.encoding;
    r.isPromisedType = isPromisedFlavor(type);
    r.isDynamicUti = isDynamicUti(type);
    r.isCorePasteboardFlavor = isCorePasteboardFlavor(type);
    r.isFinderPrivate = isFinderPrivate(type);
    r.isBookmarkFlavor = isBookmarkFlavor(type);
    if (!p.readable()) return r;
    const platform::Bytes& bytes = *p.bytes;
    r.readable = true;
    r.byteCount = static_cast<std::int64_t>(bytes.size());
    r.sha256 = digests.sha256Hex(p.bytes);
    r.stringPreview = stringPreviewFromData(bytes);
    r.propertyListSummary = propertyListSummary(bytes);
    r.hexPrefix = hexPrefix(bytes);
    return r;
}

RepresentationIdentity identityRep(const std::string& scope, const std::string& type, const Payload& p,
                                   DigestCache& digests) {
    RepresentationIdentity r;
    r.scope = scope;
    r.type = type;
    r.encoding = p.encoding;
    if (!p.readable()) return r;
    const platform::Bytes& bytes = *p.bytes;
    r.readable = true;
    r.byteCount = static_cast<std::int64_t>(bytes.size());
    r.sha256 = digests.sha256Hex(p.bytes);
    if (bytes.size() <= maxInlineBase64Bytes) r.rawBase64 = platform::base64Encode(bytes);
    return r;
}

std::optional<std::string> stringPreviewFromData(const platform::Bytes& bytes) {
    if (bytes.empty()) return std::nullopt;
    std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (platform::isValidUtf8(text) &&
        !platform::hasControlCharacter(text, platform::ControlCharacters::ExceptTabAndLineBreaks)) {
        std::string_view trimmed = platform::trimWhitespaceAndNewlines(text);
        if (!trimmed.empty()) return platform::firstCharacters(trimmed, maxPreviewChars);
    }
    auto decoded = platform::decodeUtf16Prefix(bytes.data(), bytes.size(), maxPreviewChars);
    if (!decoded || decoded->empty()) return std::nullopt;
    return decoded;
}

std::optional<std::string> propertyListSummary(const platform::Bytes& bytes) {
    if (bytes.empty() || !mayBePropertyList(bytes)) return std::nullopt;
    auto value = platform::parsePropertyList(bytes);
    if (!value) return std::nullopt;
    if (auto xml = platform::propertyListXml(*value)) {
        std::string_view text(reinterpret_cast<const char*>(xml->data()), xml->size());
        if (platform::isValidUtf8(text)) return platform::firstCharacters(text, maxPreviewChars);
    }
    std::string description;
    describe(*value, description);
    return platform::firstCharacters(description, maxPreviewChars);
}

std::optional<std::string> hexPrefix(const platform::Bytes& bytes) {
    if (bytes.empty()) return std::nullopt;
    return platform::hexString(bytes.data(), std::min(bytes.size(), maxHexPrefixBytes));
}

bool isPromisedFlavor(std::string_view type) {
    return platform::lowercased(type).find("promis") != std::string::npos;
}

bool isBookmarkFlavor(std::string_view type) {
    return platform::lowercased(type).find("bookmark") != std::string::npos;
}

bool isDynamicUti(std::string_view type) {
    return type.starts_with("dyn.");
}

bool isCorePasteboardFlavor(std::string_view type) {
    return type.starts_with("CorePasteboardFlavorType");
}

bool isFinderPrivate(std::string_view type) {
    std::string lower = platform::lowercased(type);
    return lower == "fndf" || type == "com.apple.finder.noderef" || lower.starts_with("com.apple.finder.");
}

void sortNames(std::vector<std::string>& names) {
    std::stable_sort(names.begin(), names.end(),
                     [](const std::string& a, const std::string& b) { return platform::unicodeLess(a, b); });
}

void sortByType(std::vector<RepresentationForensics>& reps) {
    std::stable_sort(reps.begin(), reps.end(),
                     [](const auto& a, const auto& b) { return platform::unicodeLess(a.type, b.type); });
}

void sortByScopeThenType(std::vector<RepresentationIdentity>& reps) {
    std::stable_sort(reps.begin(), reps.end(), [](const auto& a, const auto& b) {
        if (a.scope != b.scope) return platform::unicodeLess(a.scope, b.scope);
        return platform::unicodeLess(a.type, b.type);
    });
}

std::string itemScope(std::size_t index) {
    return "item[" + std::to_string(index) + "]";
}

}  // namespace forensics
