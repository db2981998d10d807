#include "card/json_support.h"

#include <algorithm>
#include <set>
#include <vector>

#include "card/dump_formats.h"
#include "card/hex.h"

namespace zelkor::card::detail {

namespace {

// Refuses a name that appears twice in one object, which the parser would
// otherwise settle silently by keeping the last value.
class DuplicateNameCheck {
public:
    explicit DuplicateNameCheck(const JsonReader &reader) : reader_(reader) {}

    bool operator()(int, nlohmann::json::parse_event_t event, const JsonReader::Json &parsed) {
        using Event = nlohmann::json::parse_event_t;
        switch (event) {
        case Event::object_start: open_.push_back({}); break;
        case Event::object_end: open_.pop_back(); break;
        case Event::key: {
            const auto name = parsed.get<std::string>();
            if (open_.empty()) break;
            Level &level = open_.back();
            level.name = name;
            if (!level.names.insert(name).second) reader_.Fail(Path(), FileProblem::DuplicateName, {.found = name});
            break;
        }
        default: break;
        }
        return true;
    }

private:
    struct Level {
        std::set<std::string> names;
        std::string name;  // the member being read
    };

    std::string Path() const {
        std::string path;
        for (const Level &level : open_) path += "/" + level.name;
        return path;
    }

    const JsonReader &reader_;
    std::vector<Level> open_;
};

}  // namespace

JsonReader::Json JsonReader::Parse(std::string_view text) const {
    try {
        return Json::parse(text.begin(), text.end(), DuplicateNameCheck(*this));
    } catch (const nlohmann::json::parse_error &error) {
        const auto offset = std::min<std::size_t>(error.byte, text.size());
        const int line = 1 + static_cast<int>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(offset), '\n'));
        std::string message = error.what();
        // nlohmann's text starts with "[json.exception.parse_error.101] parse error at line L, column C: ".
        if (const auto colon = message.find(": "); colon != std::string::npos) message = message.substr(colon + 2);
        throw FileError(file_, line, FileProblem::JsonSyntax, {.found = message});
    } catch (const nlohmann::json::exception &error) {
        // A number too large for any type is not a syntax error and has no position.
        std::string message = error.what();
        if (const auto bracket = message.find("] "); bracket != std::string::npos) message = message.substr(bracket + 2);
        throw FileError(file_, FileProblem::JsonUnreadable, {.found = message});
    }
}

void JsonReader::Fail(const std::string &path, FileProblem problem, FileProblemArgs args) const {
    throw FileError(file_, path, problem, std::move(args));
}

const JsonReader::Json &JsonReader::Object(const Json &value, const std::string &path) const {
    if (!value.is_object()) Fail(path, FileProblem::JsonWrongType, {.json_type = JsonType::Object});
    return value;
}

std::string JsonReader::String(const Json &value, const std::string &path) const {
    if (!value.is_string()) Fail(path, FileProblem::JsonWrongType, {.json_type = JsonType::String});
    return value.get<std::string>();
}

bool JsonReader::Bool(const Json &value, const std::string &path) const {
    if (!value.is_boolean()) Fail(path, FileProblem::JsonWrongType, {.json_type = JsonType::Boolean});
    return value.get<bool>();
}

std::optional<Key> JsonReader::OptionalKey(const Json &object, const std::string &field, const std::string &path) const {
    if (!object.contains(field) || object.at(field).is_null()) return std::nullopt;
    const std::string where = path + "/" + field;
    const auto key = ParseKey(String(object.at(field), where));
    if (!key) Fail(where, FileProblem::BadKey);
    return key;
}

JsonReader::Json CardIdentityJson(std::span<const std::uint8_t> uid, const std::optional<std::array<std::uint8_t, 2>> &atqa,
                                  const std::optional<std::uint8_t> &sak) {
    JsonReader::Json card = JsonReader::Json::object();
    if (!uid.empty()) card["UID"] = ToHex(uid);
    if (atqa) card["ATQA"] = ToHex(*atqa);
    if (sak) card["SAK"] = ToHex(std::span<const std::uint8_t>(&*sak, 1));
    return card;
}

}  // namespace zelkor::card::detail
