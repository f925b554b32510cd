#include "platform/board_format.h"

#include <ctime>
#include <limits>
#include <set>

#include "platform/base64.h"
#include "platform/property_list.h"

namespace platform {
namespace {

using Json = nlohmann::ordered_json;

constexpr double kUnixTo2001 = 978307200.0;

// A date such as 2025-01-31T09:15:02Z, within the range a property list holds.
std::optional<Date> parseDate(const std::string& text) {
    std::tm tm{};
    char tail = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                    &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &tail) != 7 ||
        tail != 'Z' || text.size() != 20)
        return std::nullopt;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    Date date{static_cast<double>(timegm(&tm)) - kUnixTo2001};
    if (!dateRepresentable(date)) return std::nullopt;
    return date;
}

std::string formatDate(Date d) {
    std::time_t t = static_cast<std::time_t>(d.secondsSince2001 + kUnixTo2001);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buf;
}

constexpr const char* kTooDeep = "a property list may nest arrays and dictionaries at most 512 deep";
constexpr const char* kZeroCharacter = "a property-list string or key may not hold a zero character";

std::optional<Value> plistFromJson(const Json& j, std::string& error, int depth = 1) {
    if (depth > kMaxPropertyListDepth) {
        error = kTooDeep;
        return std::nullopt;
    }
    switch (j.type()) {
        case Json::value_t::boolean:
            return Value(j.get<bool>());
        case Json::value_t::number_integer:
        case Json::value_t::number_unsigned:
            if (j.is_number_unsigned() && j.get<std::uint64_t>() > INT64_MAX) return Value(j.get<double>());
            return Value(j.get<std::int64_t>());
        case Json::value_t::number_float:
            return Value(j.get<double>());
        case Json::value_t::string:
            if (j.get_ref<const std::string&>().find('\0') != std::string::npos) {
                error = kZeroCharacter;
                return std::nullopt;
            }
            return Value(j.get<std::string>());
        case Json::value_t::array: {
            Array a;
            for (const auto& e : j) {
                auto v = plistFromJson(e, error, depth + 1);
                if (!v) return std::nullopt;
                a.push_back(std::move(*v));
            }
            return Value(std::move(a));
        }
        case Json::value_t::object: {
            if (j.size() == 1 && j.contains("$data")) {
                auto bytes =
                    j["$data"].is_string() ? base64Decode(j["$data"].get<std::string>()) : std::nullopt;
                if (!bytes) {
                    error = "\"$data\" must be a base64 string";
                    return std::nullopt;
                }
                return Value(std::move(*bytes));
            }
            if (j.size() == 1 && j.contains("$date")) {
                auto date = j["$date"].is_string() ? parseDate(j["$date"].get<std::string>()) : std::nullopt;
                if (!date) {
                    error = "\"$date\" must be a date such as 2025-01-31T09:15:02Z, from "
                            "1932-12-13T20:45:52Z to 2069-01-19T03:14:07Z";
                    return std::nullopt;
                }
                return Value(*date);
            }
            Dictionary d;
            for (auto it = j.begin(); it != j.end(); ++it) {
                if (it.key().find('\0') != std::string::npos) {
                    error = kZeroCharacter;
                    return std::nullopt;
                }
                auto v = plistFromJson(it.value(), error, depth + 1);
                if (!v) return std::nullopt;
                d.emplace(it.key(), std::move(*v));
            }
            return Value(std::move(d));
        }
        default:
            error = "a property list holds no null";
            return std::nullopt;
    }
}

Json plistToJson(const Value& v) {
    switch (v.kind()) {
        case Value::Kind::Null:
            return nullptr;
        case Value::Kind::Bool:
            return *v.asBool();
        case Value::Kind::Integer:
            return *v.asInteger();
        case Value::Kind::Real:
            return *v.asReal();
        case Value::Kind::String:
            return *v.asString();
        case Value::Kind::Data:
            return Json{{"$data", base64Encode(*v.asData())}};
        case Value::Kind::Date:
            return Json{{"$date", formatDate(*v.asDate())}};
        case Value::Kind::Array: {
            Json a = Json::array();
            for (const auto& e : *v.asArray()) a.push_back(plistToJson(e));
            return a;
        }
        case Value::Kind::Dictionary: {
            Json d = Json::object();
            for (const auto& [k, e] : *v.asDictionary()) d[k] = plistToJson(e);
            return d;
        }
    }
    return nullptr;
}

std::optional<Representation> parseRep(const Json& j, std::string& error) {
    if (!j.is_object() || !j.contains("type") || !j["type"].is_string()) {
        error = "every representation needs a \"type\" string";
        return std::nullopt;
    }
    Representation rep;
    rep.type = j["type"].get<std::string>();
    int forms = int(j.contains("base64")) + int(j.contains("text")) + int(j.contains("plist"));
    if (forms != 1) {
        error = "representation \"" + rep.type + "\" needs exactly one of \"base64\", \"text\", \"plist\"";
        return std::nullopt;
    }
    if (j.contains("base64")) {
        auto bytes = j["base64"].is_string() ? base64Decode(j["base64"].get<std::string>()) : std::nullopt;
        if (!bytes) {
            error = "representation \"" + rep.type + "\": \"base64\" is not valid base64";
            return std::nullopt;
        }
        rep.kind = RepresentationKind::Data;
        rep.value = Value(std::move(*bytes));
    } else if (j.contains("text")) {
        if (!j["text"].is_string()) {
            error = "representation \"" + rep.type + "\": \"text\" must be a string";
            return std::nullopt;
        }
        rep.kind = RepresentationKind::String;
        rep.value = Value(j["text"].get<std::string>());
    } else {
        auto plist = plistFromJson(j["plist"], error);
        if (!plist) return std::nullopt;
        rep.kind = RepresentationKind::PropertyList;
        rep.value = std::move(*plist);
    }
    if (j.contains("answers")) {
        if (!j["answers"].is_array()) {
            error = "\"answers\" must be an array";
            return std::nullopt;
        }
        rep.answers = 0;
        for (const auto& a : j["answers"]) {
            if (a == "data") {
                rep.answers |= AnswersData;
            } else if (a == "string") {
                rep.answers |= AnswersString;
            } else if (a == "plist") {
                rep.answers |= AnswersPropertyList;
            } else {
                error = "\"answers\" may hold only \"data\", \"string\" and \"plist\"";
                return std::nullopt;
            }
        }
    }
    return rep;
}

std::optional<std::vector<Representation>> parseReps(const Json& j, std::string& error) {
    if (!j.is_array()) {
        error = "representations must be an array";
        return std::nullopt;
    }
    std::vector<Representation> out;
    std::set<std::string> seen;
    for (const auto& e : j) {
        auto rep = parseRep(e, error);
        if (!rep) return std::nullopt;
        if (!seen.insert(rep->type).second) {
            error = "type \"" + rep->type + "\" appears twice in one item";
            return std::nullopt;
        }
        out.push_back(std::move(*rep));
    }
    return out;
}

Json describeReps(const std::vector<Representation>& reps) {
    Json out = Json::array();
    for (const auto& rep : reps) {
        nlohmann::ordered_json r;
        r["type"] = rep.type;
        switch (rep.kind) {
            case RepresentationKind::Data:
                r["base64"] = base64Encode(*rep.value.asData());
                break;
            case RepresentationKind::String:
                r["text"] = *rep.value.asString();
                break;
            case RepresentationKind::PropertyList:
                r["plist"] = plistToJson(rep.value);
                break;
        }
        if (rep.answers != AnswersAll) {
            Json answers = Json::array();
            if (rep.answers & AnswersData) answers.push_back("data");
            if (rep.answers & AnswersString) answers.push_back("string");
            if (rep.answers & AnswersPropertyList) answers.push_back("plist");
            r["answers"] = answers;
        }
        out.push_back(r);
    }
    return out;
}

}  // namespace

std::optional<BoardDescription> parseBoardDescription(const std::string& text, std::string& error) {
    Json j = Json::parse(text, nullptr, false);
    if (j.is_discarded() || !j.is_object()) {
        error = "the description must be one JSON object";
        return std::nullopt;
    }
    BoardDescription d;
    if (j.contains("changeCount")) {
        // The count must be able to grow: the largest 64-bit value would have to wrap on the next change.
        const auto& count = j["changeCount"];
        if (!count.is_number_integer() || count.get<std::int64_t>() < 0 ||
            count.get<std::int64_t>() == std::numeric_limits<std::int64_t>::max()) {
            error = "\"changeCount\" must be a whole number from 0 to 9223372036854775806";
            return std::nullopt;
        }
        d.changeCount = j["changeCount"].get<std::int64_t>();
    }
    if (j.contains("board")) {
        auto reps = parseReps(j["board"], error);
        if (!reps) return std::nullopt;
        d.board.boardLevel = std::move(*reps);
    }
    if (j.contains("items") && j["items"].is_null()) {
        d.board.itemsNull = true;
    } else if (j.contains("items")) {
        if (!j["items"].is_array()) {
            error = "\"items\" must be an array or null";
            return std::nullopt;
        }
        std::int64_t previous = 0;
        std::set<std::int64_t> ids;
        for (const auto& item : j["items"]) {
            if (!item.is_object() || !item.contains("reps")) {
                error = "every item needs \"reps\"";
                return std::nullopt;
            }
            StoredItem stored;
            if (item.contains("id")) {
                if (!item["id"].is_number_integer() || item["id"].get<std::int64_t>() < 1) {
                    error = "an item \"id\" must be a whole number from 1 to 2^63-1";
                    return std::nullopt;
                }
                stored.id = item["id"].get<std::int64_t>();
            } else {
                if (previous == INT64_MAX) {
                    error = "an item \"id\" must be a whole number from 1 to 2^63-1";
                    return std::nullopt;
                }
                stored.id = previous + 1;
            }
            if (!ids.insert(stored.id).second) {
                error = "item id " + std::to_string(stored.id) + " appears twice";
                return std::nullopt;
            }
            previous = stored.id;
            auto reps = parseReps(item["reps"], error);
            if (!reps) return std::nullopt;
            stored.reps = std::move(*reps);
            d.board.items.push_back(std::move(stored));
        }
    }
    return d;
}

nlohmann::ordered_json describeBoard(const Board& board) {
    nlohmann::ordered_json out;
    out["changeCount"] = board.changeCount;
    out["board"] = describeReps(board.boardLevel);
    if (board.itemsNull) {
        out["items"] = nullptr;
    } else {
        Json items = Json::array();
        for (const auto& item : board.items) {
            nlohmann::ordered_json i;
            i["id"] = item.id;
            i["reps"] = describeReps(item.reps);
            items.push_back(i);
        }
        out["items"] = items;
    }
    return out;
}

}  // namespace platform
