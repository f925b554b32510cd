// Reading one representation of the pasteboard and turning its bytes into the two records of the
// snapshot, with the previews, digest and type-name classification they carry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pasteboard-forensics/records.h"
#include "platform/pasteboard.h"

namespace forensics {

// The encoding names: how the bytes were obtained.
inline constexpr const char* encodingData = "data";
inline constexpr const char* encodingUtf8String = "utf8-string";
inline constexpr const char* encodingPlistBinary = "plist-binary";
inline constexpr const char* encodingAbsent = "absent";

// The bytes of one representation (shared, since one read serves two records) and how they came.
struct Payload {
    std::shared_ptr<const platform::Bytes> bytes;  // null when nothing was obtained
    std::string encoding = encodingAbsent;

    // Bytes were obtained and there is at least one.
    bool readable() const { return bytes && !bytes->empty(); }
};

// Obtains the bytes of `type`: from the item first (data, string, property list) when one is given,
// then from the pasteboard (data, property list). Bytes that the item stores as data are referenced in
// place, so the item must outlive the payload and every DigestCache that saw it.
Payload payload(const std::string& type, const platform::PasteboardItem* item,
                platform::Pasteboard& pasteboard);

// SHA-256 digests within one run, shared by representations of identical content (a type read at
// board level and again from its item, or by two items), so that large bytes are hashed once.
class DigestCache {
  public:
    std::string sha256Hex(const std::shared_ptr<const platform::Bytes>& bytes);

  private:
    struct Entry {
        std::shared_ptr<const platform::Bytes> bytes;
        std::string digest;
    };
    std::vector<Entry> entries_;
};

RepresentationForensics forensicsRep(const std::string& type, const Payload& payload, DigestCache& digests);
RepresentationIdentity identityRep(const std::string& scope, const std::string& type, const Payload& payload,
                                   DigestCache& digests);

// Text preview of at most `maxPreviewChars` characters: trimmed UTF-8 without control characters (tab,
// line feed and carriage return count as text), else the bytes as UTF-16, untrimmed; nothing when
// neither gives text.
std::optional<std::string> stringPreviewFromData(const platform::Bytes& bytes);
// The bytes parsed as a property list (XML or binary), written as XML 1.0, cut to `maxPreviewChars`.
std::optional<std::string> propertyListSummary(const platform::Bytes& bytes);
// Lower-case hex of the first `maxHexPrefixBytes` bytes; nothing for no bytes.
std::optional<std::string> hexPrefix(const platform::Bytes& bytes);

// Type-name classification.
bool isPromisedFlavor(std::string_view type);
bool isBookmarkFlavor(std::string_view type);
bool isDynamicUti(std::string_view type);
bool isCorePasteboardFlavor(std::string_view type);
bool isFinderPrivate(std::string_view type);

// Sort orders of the snapshot: names by Unicode scalar values after NFC normalisation.
void sortNames(std::vector<std::string>& names);
void sortByType(std::vector<RepresentationForensics>& reps);
void sortByScopeThenType(std::vector<RepresentationIdentity>& reps);

// "item[N]".
std::string itemScope(std::size_t index);

}  // namespace forensics
