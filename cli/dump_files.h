// Dump files as the commands load them.
#pragma once

#include <string>

#include <CLI/CLI.hpp>

#include "card/card_image.h"

namespace zelkor::cli {

// Loads a dump of any format (FileError when malformed). Formats without a
// UID field (.mct, .bin, .mfd) carry it in the manufacturer block: a 4-byte
// UID followed by its check byte (the XOR of the four) is taken from there,
// so that comparing and restoring see the same UID whatever the format.
card::CardImage LoadDumpFile(const std::string &path);

// Whether any byte of `image` is unknown, key bytes of the trailers included
// (a format that cannot mark them would turn them into zeros).
bool HasUnknownBytes(const card::CardImage &image);

// Whether a card read gave everything but keys that stayed hidden: no block
// left out, no stop on the way.
bool IsCompleteRead(const card::CardImage &image);

// --fill-unknown: what a format without unknown bytes gets for them. Empty
// means none may be filled.
void AddFillUnknownOption(CLI::App *command, std::string &fill);

// Whether the file at `path` keeps a UID: its format has a field for one, or
// the UID was found in its manufacturer block.
bool DumpFileHoldsUid(const std::string &path, const card::CardImage &loaded);

}  // namespace zelkor::cli
