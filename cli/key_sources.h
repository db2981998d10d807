// Where keys come from for keys, dump and restore (-k files and the built-in
// list), and the key search run with its progress line and running sector map.
#pragma once

#include <string>
#include <vector>

#include "card/card_image.h"
#include "card/card_link.h"
#include "card/key_search.h"
#include "cli/program.h"

namespace zelkor::cli {

struct KeySourceOptions {
    std::vector<std::string> files;
    bool no_builtin = false;
};

// -k/--keys FILE (repeatable) and --no-builtin on `command`.
void AddKeySourceOptions(CLI::App *command, KeySourceOptions &options);

struct LoadedKeys {
    std::vector<card::SectorKeys> known;  // from key maps, per sector
    std::vector<card::SectorKeys> hints;  // from key maps, tried first on their sector
    std::vector<card::Key> dictionary;    // candidates for the search, each once
};

// Reads every file before the reader is touched (FileError on a bad one).
// Key maps (.json, and .bin key files of 60, 192 or 480 bytes) give known
// keys when `maps_as_known`, otherwise keys tried first on their sector that
// also join the dictionary; text files are dictionaries. The dictionary is
// the built-in keys, then `extra` (a dump's own keys, for instance), then
// the files' keys in the order given.
LoadedKeys LoadKeySources(const KeySourceOptions &options, bool maps_as_known,
                          const std::vector<card::Key> &extra = {});

// Searches the card's keys, showing progress and each key as it is found on
// standard error.
card::KeySearchResult RunKeySearch(Program &program, card::CardLink &link, card::CardKind kind,
                                   const LoadedKeys &keys);

}  // namespace zelkor::cli
