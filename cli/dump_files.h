// Dump files as the commands load them.
#pragma once

#include <string>

#include "card/card_image.h"

namespace zelkor::cli {

// Loads a dump of any format (FileError when malformed). Formats without a
// UID field (.mct, .bin, .mfd) carry it in the manufacturer block: a 4-byte
// UID followed by its check byte (the XOR of the four) is taken from there,
// so that comparing and restoring see the same UID whatever the format.
card::CardImage LoadDumpFile(const std::string &path);

// Whether the file at `path` keeps a UID: its format has a field for one, or
// the UID was found in its manufacturer block.
bool DumpFileHoldsUid(const std::string &path, const card::CardImage &loaded);

// The warning for writing `image` to `path` in a format that cannot keep its
// UID; empty when it can.
std::string UidLossWarning(const std::string &path, const card::CardImage &image);

}  // namespace zelkor::cli
