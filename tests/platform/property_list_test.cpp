#include "platform/property_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace platform {
namespace {

Bytes bytesOf(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// A binary property list from its objects (each a marker and contents, references one byte wide when
// there are fewer than 256 objects, else two), the first object at the top.
Bytes binaryPlist(const std::vector<Bytes>& objects) {
    Bytes out = bytesOf("bplist00");
    std::vector<std::uint64_t> offsets;
    for (const Bytes& o : objects) {
        offsets.push_back(out.size());
        out.insert(out.end(), o.begin(), o.end());
    }
    std::uint64_t table = out.size();
    for (std::uint64_t off : offsets)
        for (int shift = 56; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(off >> shift));
    Bytes trailer(32, 0);
    trailer[6] = 8;
    trailer[7] = objects.size() < 256 ? 1 : 2;
    auto put = [&](int at, std::uint64_t v) {
        for (int i = 7; i >= 0; --i, v >>= 8) trailer[at + i] = static_cast<std::uint8_t>(v);
    };
    put(8, objects.size());
    put(16, 0);
    put(24, table);
    out.insert(out.end(), trailer.begin(), trailer.end());
    return out;
}

Bytes ref(std::size_t index, std::size_t count) {
    if (count < 256) return {static_cast<std::uint8_t>(index)};
    return {static_cast<std::uint8_t>(index >> 8), static_cast<std::uint8_t>(index)};
}

Bytes asciiString(const std::string& s) {
    return bytesOf(std::string(1, static_cast<char>(0x50 | s.size())) + s);
}

// Arrays of one element nested `depth` deep around an integer, as a binary property list.
Bytes nestedBinary(std::size_t depth) {
    std::vector<Bytes> objects;
    std::size_t count = depth + 1;
    for (std::size_t i = 0; i < depth; ++i) {
        Bytes r = ref(i + 1, count);
        Bytes array(1 + r.size(), 0xA1);
        std::copy(r.begin(), r.end(), array.begin() + 1);
        objects.push_back(array);
    }
    objects.push_back({0x10, 0x07});
    return binaryPlist(objects);
}

Bytes nestedXml(std::size_t depth) {
    std::string doc = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
    for (std::size_t i = 0; i < depth; ++i) doc += "<array>";
    doc += "<integer>7</integer>";
    for (std::size_t i = 0; i < depth; ++i) doc += "</array>";
    return bytesOf(doc + "</plist>");
}

Bytes xmlDocument(const std::string& body) {
    return bytesOf("<?xml version=\"1.0\"?><plist version=\"1.0\">" + body + "</plist>");
}

TEST(PropertyLists, ZeroCharactersInStringsOrKeysAreNoPropertyList) {
    const std::string withZero("a\0b", 3);
    // The library would cut a string at the zero (or keep garbage after it), and assert on such a key.
    EXPECT_FALSE(parsePropertyList(xmlDocument("<string>" + withZero + "</string>")).has_value());
    EXPECT_FALSE(parsePropertyList(binaryPlist({asciiString(withZero)})).has_value());
    EXPECT_FALSE(parsePropertyList(binaryPlist({{0x62, 0, 'a', 0, 0}})).has_value());  // UTF-16 "a\0"
    EXPECT_FALSE(parsePropertyList(xmlDocument("<dict><key>" + withZero + "</key><true/></dict>")).has_value());
    EXPECT_FALSE(parsePropertyList(binaryPlist({{0xD1, 1, 2}, asciiString(withZero), {0x09}})).has_value());
    // The same dictionaries with a plain key read as usual.
    auto plainKey = parsePropertyList(binaryPlist({{0xD1, 1, 2}, asciiString("ab"), {0x09}}));
    ASSERT_TRUE(plainKey.has_value());
    EXPECT_EQ(plainKey->asDictionary()->at("ab"), Value(true));

    // Writing never shortens a string or a key at its zero character: such values have no plist form.
    EXPECT_FALSE(propertyListXml(Value(withZero)).has_value());
    EXPECT_FALSE(propertyListBinary(Value(Dictionary{{withZero, Value(true)}})).has_value());
}

TEST(PropertyLists, NestingIsBounded) {
    for (std::size_t depth : {std::size_t{511}, std::size_t{512}, std::size_t{50000}}) {
        SCOPED_TRACE(depth);
        bool within = depth + 1 <= static_cast<std::size_t>(kMaxPropertyListDepth);
        EXPECT_EQ(parsePropertyList(nestedXml(depth)).has_value(), within);
        EXPECT_EQ(parsePropertyList(nestedBinary(depth)).has_value(), within);
    }
    Value deep(std::int64_t{1});
    for (int i = 1; i < kMaxPropertyListDepth; ++i) deep = Value(Array{deep});
    auto xml = propertyListXml(deep);
    ASSERT_TRUE(xml.has_value());
    EXPECT_EQ(parsePropertyList(*xml), deep);
    EXPECT_FALSE(propertyListBinary(Value(Array{deep})).has_value());
}

TEST(PropertyLists, CyclesAndExpandingGraphsAreRefused) {
    // An array that holds itself.
    EXPECT_FALSE(parsePropertyList(binaryPlist({{0xA1, 0}})).has_value());
    // 40 arrays each holding the next one twice: 2^40 values once expanded.
    std::vector<Bytes> objects;
    for (std::uint8_t i = 0; i < 40; ++i) objects.push_back({0xA2, static_cast<std::uint8_t>(i + 1), static_cast<std::uint8_t>(i + 1)});
    objects.push_back({0x09});
    EXPECT_FALSE(parsePropertyList(binaryPlist(objects)).has_value());
    // Shared values that expand modestly are fine (writers share equal strings).
    auto shared = parsePropertyList(binaryPlist({{0xA3, 1, 1, 1}, asciiString("same")}));
    ASSERT_TRUE(shared.has_value());
    EXPECT_EQ(shared->asArray()->size(), 3u);
    // References and offsets outside the file.
    EXPECT_FALSE(parsePropertyList(binaryPlist({{0xA1, 9}})).has_value());
    Bytes cut = binaryPlist({asciiString("abc")});
    cut[cut.size() - 1] = 0xF0;  // offset table past the end
    EXPECT_FALSE(parsePropertyList(cut).has_value());
}

TEST(PropertyLists, DatesAreExactAcrossTheRangeAndRefusedOutsideIt) {
    const double earliest = -2147483648.0, latest = 2147483647.0;
    for (double s : {earliest, -1.0, 0.0, 1.5, 759999999.25, latest}) {
        SCOPED_TRACE(s);
        Value date(Date{s});
        for (auto encoded : {propertyListXml(date), propertyListBinary(date)}) {
            ASSERT_TRUE(encoded.has_value());
            auto back = parsePropertyList(*encoded);
            ASSERT_TRUE(back.has_value());
            // XML keeps whole seconds; binary keeps the fraction too.
            double got = back->asDate()->secondsSince2001;
            EXPECT_TRUE(got == s || got == std::floor(s));
        }
    }
    for (double s : {earliest - 1, latest + 1, 1e300}) {
        EXPECT_FALSE(propertyListXml(Value(Date{s})).has_value()) << s;
        EXPECT_FALSE(propertyListBinary(Value(Date{s})).has_value()) << s;
    }
    // Read from elsewhere: the library would wrap these, so they are no property list.
    EXPECT_FALSE(parsePropertyList(xmlDocument("<date>2100-01-01T00:00:00Z</date>")).has_value());
    double far = 4102444800.0 - 978307200.0;  // 2100-01-01 in seconds since 2001
    std::uint64_t bits = 0;
    std::memcpy(&bits, &far, sizeof bits);
    Bytes dateObject(9, 0x33);
    for (int i = 0; i < 8; ++i) dateObject[1 + i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
    EXPECT_FALSE(parsePropertyList(binaryPlist({dateObject})).has_value());
    auto inRange = parsePropertyList(xmlDocument("<date>2069-01-19T03:14:07Z</date>"));
    ASSERT_TRUE(inRange.has_value());
    EXPECT_EQ(inRange->asDate()->secondsSince2001, latest);
}

}  // namespace
}  // namespace platform
