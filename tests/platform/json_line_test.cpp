#include "shared/json_line.h"

#include <gtest/gtest.h>

namespace {

using shared::Json;

TEST(JsonLine, CompactOrderedAndEscaped) {
    Json v;
    v["ok"] = true;
    v["types"] = Json::array({"public.file-url", "a\"b\\c\n\x01"});
    v["n"] = 3;
    v["r"] = 0.5;
    v["whole"] = 1512.0;
    v["text"] = "h\xC3\xA9";
    EXPECT_EQ(shared::encodeJson(v),
              "{\"ok\":true,\"types\":[\"public.file-url\",\"a\\\"b\\\\c\\n\\u0001\"],\"n\":3,\"r\":0.5,"
              "\"whole\":1512,\"text\":\"h\xC3\xA9\"}");
}

TEST(JsonLine, SortedKeysAtEveryDepth) {
    Json v;
    v["b"] = Json{{"z", 1}, {"a", 2}};
    v["a"] = Json::array({Json{{"y", 1}, {"x", 2}}});
    EXPECT_EQ(shared::encodeJson(v, shared::KeyOrder::Sorted),
              "{\"a\":[{\"x\":2,\"y\":1}],\"b\":{\"a\":2,\"z\":1}}");
}

TEST(JsonLine, NothingForUnencodableValues) {
    for (std::string bad : {std::string("\xFF"), std::string("\xC0\xAF"), std::string("\xED\xA0\x80"),
                            std::string("a\xE2\x82")}) {
        Json v;
        v["text"] = bad;
        EXPECT_FALSE(shared::encodeJson(v)) << bad;
    }
    EXPECT_FALSE(shared::encodeJson(Json(std::numeric_limits<double>::infinity())));
}

}  // namespace
