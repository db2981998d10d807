#include "card/json_support.h"

#include <algorithm>

#include "card/dump_formats.h"
#include "card/hex.h"

namespace zelkor::card::detail {

JsonReader::Json JsonReader::Parse(std::string_view text) const {
    try {
        return Json::parse(text.begin(), text.end());
    } catch (const nlohmann::json::parse_error &error) {
        const auto offset = std::min<std::size_t>(error.byte, text.size());
        const int line = 1 + static_cast<int>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(offset), '\n'));
        std::string message = error.what();
        // nlohmann's text starts with "[json.exception.parse_error.101] parse error at line L, column C: ".
        if (const auto colon = message.find(": "); colon != std::string::npos) message = message.substr(colon + 2);
        throw FileError(file_, line, "JSON syntax error: " + message);
    } catch (const nlohmann::json::exception &error) {
        // A number too large for any type is not a syntax error and has no position.
        std::string message = error.what();
        if (const auto bracket = message.find("] "); bracket != std::string::npos) message = message.substr(bracket + 2);
        throw FileError(file_, "JSON error: " + message);
    }
}

void JsonReader::Fail(const std::string &path, const std::string &message) const { throw FileError(file_, path, message); }

const JsonReader::Json &JsonReader::Object(const Json &value, const std::string &path) const {
    if (!value.is_object()) Fail(path, "expected an object");
    return value;
}

std::string JsonReader::String(const Json &value, const std::string &path) const {
    if (!value.is_string()) Fail(path, "expected a string");
    return value.get<std::string>();
}

bool JsonReader::Bool(const Json &value, const std::string &path) const {
    if (!value.is_boolean()) Fail(path, "expected true or false");
    return value.get<bool>();
}

std::optional<Key> JsonReader::OptionalKey(const Json &object, const std::string &field, const std::string &path) const {
    if (!object.contains(field) || object.at(field).is_null()) return std::nullopt;
    const std::string where = path + "/" + field;
    const auto key = ParseKey(String(object.at(field), where));
    if (!key) Fail(where, "expected a key of 12 hexadecimal digits");
    return key;
}

}  // namespace zelkor::card::detail
