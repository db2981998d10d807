// Reading JSON files with errors that name the file and the JSON path (or the
// line of a syntax error), and what both JSON dump formats write alike.
// Internal to the toolkit.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "card/card_layout.h"
#include "card/file_problem.h"

namespace zelkor::card::detail {

class JsonReader {
public:
    using Json = nlohmann::ordered_json;
    explicit JsonReader(std::string_view file) : file_(file) {}

    Json Parse(std::string_view text) const;
    [[noreturn]] void Fail(const std::string &path, FileProblem problem, FileProblemArgs args = {}) const;
    const Json &Object(const Json &value, const std::string &path) const;
    std::string String(const Json &value, const std::string &path) const;
    bool Bool(const Json &value, const std::string &path) const;
    // A 12-digit key under `field`; nothing when absent or null.
    std::optional<Key> OptionalKey(const Json &object, const std::string &field, const std::string &path) const;

private:
    std::string file_;
};

// The "Card" object of a JSON dump: the UID, ATQA and SAK that are known.
JsonReader::Json CardIdentityJson(std::span<const std::uint8_t> uid, const std::optional<std::array<std::uint8_t, 2>> &atqa,
                                  const std::optional<std::uint8_t> &sak);

}  // namespace zelkor::card::detail
