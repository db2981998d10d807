// Byte helpers shared by the Linux and the Windows test scaffolding.
#pragma once

#include <string>

#include "sim/sim_frame.h"

namespace hex_bytes {

// "55 55 0A" -> bytes, and back ("55 55 0A ").
sim::Bytes Hex(const std::string &text);
std::string ToHex(const sim::Bytes &bytes);

}  // namespace hex_bytes
