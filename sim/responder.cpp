#include "sim/responder.h"

namespace sim {

Reaction Answer(std::uint8_t status, const Bytes &data, int delay_ms) {
    return Raw(EncodeAnswer(status, data), delay_ms);
}

Reaction Raw(const Bytes &bytes, int delay_ms) {
    Reaction r;
    r.pieces.push_back({delay_ms, bytes});
    return r;
}

Reaction Silence() { return {}; }

Reaction Split(const Bytes &bytes, const std::vector<std::size_t> &cuts, int pause_ms) {
    Reaction r;
    std::size_t from = 0;
    for (std::size_t cut : cuts) {
        if (cut <= from || cut >= bytes.size()) continue;
        r.pieces.push_back({from == 0 ? 0 : pause_ms,
                            Bytes(bytes.begin() + static_cast<long>(from), bytes.begin() + static_cast<long>(cut))});
        from = cut;
    }
    r.pieces.push_back({from == 0 ? 0 : pause_ms, Bytes(bytes.begin() + static_cast<long>(from), bytes.end())});
    return r;
}

}  // namespace sim
