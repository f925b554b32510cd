// The general pasteboard and its items, shaped after NSPasteboard and NSPasteboardItem.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/value.h"

namespace platform {

// Type names with their platform values.
inline constexpr const char* NSPasteboardTypeString = "public.utf8-plain-text";
inline constexpr const char* NSPasteboardTypeHTML = "public.html";
inline constexpr const char* NSPasteboardTypeRTF = "public.rtf";
inline constexpr const char* NSPasteboardTypePNG = "public.png";
inline constexpr const char* NSPasteboardTypeTIFF = "public.tiff";
inline constexpr const char* NSPasteboardTypeFileURL = "public.file-url";
inline constexpr const char* NSPasteboardTypeURL = "public.url";

enum class RepresentationKind { Data, String, PropertyList };

// Which of the three item reads a representation answers.
enum Answers : unsigned {
    AnswersData = 1,
    AnswersString = 2,
    AnswersPropertyList = 4,
    AnswersAll = AnswersData | AnswersString | AnswersPropertyList,
};

// One representation as the provider set it: bytes, text, or a property-list value.
struct Representation {
    std::string type;
    RepresentationKind kind = RepresentationKind::Data;
    Value value;  // Bytes, std::string, or any property-list value, after `kind`
    unsigned answers = AnswersAll;

    // The three reads, with the conversions between kinds and the `answers` restriction applied.
    SharedBytes data() const;
    std::optional<std::string> string() const;
    std::optional<Value> propertyList() const;
};

// A pasteboard item: a new one to fill and write, or one read from the pasteboard.
class PasteboardItem {
  public:
    PasteboardItem() = default;
    explicit PasteboardItem(std::vector<Representation> reps) : reps_(std::move(reps)) {}

    // Setting a type that the item already offers replaces that representation in place.
    void setString(std::string string, const std::string& type);
    void setData(Bytes data, const std::string& type);
    // The same bytes under several types share one buffer.
    void setData(SharedBytes data, const std::string& type);
    void setPropertyList(Value plist, const std::string& type);

    std::vector<std::string> types() const;
    SharedBytes dataForType(const std::string& type) const;
    std::optional<std::string> stringForType(const std::string& type) const;
    std::optional<Value> propertyListForType(const std::string& type) const;

    const Representation* representation(const std::string& type) const;
    const std::vector<Representation>& representations() const { return reps_; }

  private:
    void set(Representation rep);
    std::vector<Representation> reps_;
};

class Pasteboard {
  public:
    virtual ~Pasteboard() = default;

    // Empties the pasteboard and advances the change count; answers the new change count. The
    // process becomes the owner of the new board.
    virtual std::int64_t clearContents() = 0;
    // True when the pasteboard took every item, appended in order after those present. A process
    // that cleared the board writes only onto the board it made: once another process has changed it,
    // the write fails and changes nothing.
    virtual bool writeObjects(const std::vector<PasteboardItem>& items) = 0;

    // False when the pasteboard cannot be read at all (its store or server cannot be reached); every
    // read then answers as for an empty pasteboard.
    virtual bool available() = 0;
    // The change count as it is now, read anew; the other reads answer from one snapshot of the board,
    // taken at the first read. Nothing when it cannot be read.
    virtual std::optional<std::int64_t> currentChangeCount() = 0;

    // Nothing stands for a pasteboard that answers no list at all.
    virtual std::optional<std::vector<std::string>> types() = 0;
    virtual std::optional<std::vector<PasteboardItem>> pasteboardItems() = 0;
    virtual std::int64_t changeCount() = 0;

    // Pasteboard-level reads: the board-level flavor when present, else the first item with the type.
    virtual SharedBytes dataForType(const std::string& type) = 0;
    virtual std::optional<Value> propertyListForType(const std::string& type) = 0;

    // `readObjectsForClasses:` with the URL class alone: absolute URL strings in item order.
    virtual std::optional<std::vector<std::string>> readURLs() = 0;
};

// The general pasteboard of the backend in use.
std::unique_ptr<Pasteboard> generalPasteboard();

}  // namespace platform
