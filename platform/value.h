// The loosely typed value that desktop services hand over: window records, property lists, JSON seeds.
// "Absent, or of another type" rules read it through the typed accessors, which answer nothing for
// any other kind (an integer read of a real is nothing).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace platform {

using Bytes = std::vector<std::uint8_t>;
// Bytes handed around without copying (representations can be hundreds of megabytes); null: nothing.
using SharedBytes = std::shared_ptr<const Bytes>;

class Value;
using Array = std::vector<Value>;
using Dictionary = std::map<std::string, Value>;

// A point in time as seconds since 2001-01-01T00:00:00Z, the reference date of property lists.
struct Date {
    double secondsSince2001 = 0;
    bool operator==(const Date&) const = default;
};

class Value {
  public:
    enum class Kind { Null, Bool, Integer, Real, String, Data, Date, Array, Dictionary };

    Value() = default;
    Value(std::nullptr_t) {}
    Value(bool b) : v_(b) {}
    Value(int i) : v_(std::int64_t{i}) {}
    Value(std::int64_t i) : v_(i) {}
    Value(double d) : v_(d) {}
    Value(const char* s) : v_(std::make_shared<const std::string>(s)) {}
    Value(std::string s) : v_(std::make_shared<const std::string>(std::move(s))) {}
    Value(Bytes b) : v_(std::make_shared<const Bytes>(std::move(b))) {}
    Value(SharedBytes b) : v_(std::move(b)) {}
    Value(Date d) : v_(d) {}
    Value(Array a) : v_(std::make_shared<Array>(std::move(a))) {}
    Value(Dictionary d) : v_(std::make_shared<Dictionary>(std::move(d))) {}

    Kind kind() const { return static_cast<Kind>(v_.index()); }
    bool isNull() const { return kind() == Kind::Null; }

    std::optional<bool> asBool() const;
    std::optional<std::int64_t> asInteger() const;
    std::optional<double> asReal() const;
    // An integer or a real, as a real: for numbers whose JSON form may be either.
    std::optional<double> asNumber() const;
    const std::string* asString() const;
    const Bytes* asData() const;
    // The data itself, shared with this value (no copy); null for any other kind.
    SharedBytes sharedData() const;
    std::optional<Date> asDate() const;
    const Array* asArray() const;
    const Dictionary* asDictionary() const;

    // Member of a dictionary, or nullptr when this is no dictionary or the key is absent.
    const Value* find(const std::string& key) const;

    bool operator==(const Value& other) const;

  private:
    // Strings and data are shared between copies: a representation's text can be as large as its data.
    std::variant<std::monostate, bool, std::int64_t, double, std::shared_ptr<const std::string>, SharedBytes,
                 Date, std::shared_ptr<const Array>, std::shared_ptr<const Dictionary>>
        v_;
};

// An array of strings, or nothing when the value is not an array or holds anything but strings.
std::optional<std::vector<std::string>> stringArray(const Value& v);

}  // namespace platform
