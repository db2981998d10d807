// What the simulated reader sends back: an answer is a list of pieces, each
// written after its pause, so an answer can be split, delayed or doubled.
#pragma once

#include <vector>

#include "sim/sim_frame.h"

namespace sim {

struct Piece {
    int delay_ms = 0;  // pause before this piece is written
    Bytes bytes;
};

struct Reaction {
    std::vector<Piece> pieces;  // empty: the reader stays silent
    bool unplug = false;        // after the pieces, the reader goes away
    int line_baud = 0;          // nonzero: the reader talks at this speed from now on
    // Time the reader spends on the card before it answers (request, select,
    // authentication, block access). Applied only when the line is paced.
    int card_time_us = 0;
};

// A device model behind the serial line (the reader with its cards).
class Responder {
public:
    virtual ~Responder() = default;
    virtual Reaction Respond(const Command &command) = 0;
};

// Convenience builders for reactions.
Reaction Answer(std::uint8_t status, const Bytes &data = {}, int delay_ms = 0);
Reaction Raw(const Bytes &bytes, int delay_ms = 0);
Reaction Silence();
// The same bytes cut at the given offsets, with `pause_ms` between pieces.
Reaction Split(const Bytes &bytes, const std::vector<std::size_t> &cuts, int pause_ms);

}  // namespace sim
