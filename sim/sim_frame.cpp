#include "sim/sim_frame.h"

namespace sim {

std::uint8_t XorOf(const Bytes &bytes, std::size_t count) {
    std::uint8_t x = 0;
    for (std::size_t i = 0; i < count && i < bytes.size(); ++i) x ^= bytes[i];
    return x;
}

static Bytes Encode(std::uint8_t first, std::uint8_t second, const Bytes &data, bool has_second) {
    Bytes out{0x55, 0x55, 0x00, 0x00, 0x00, 0x00, first};
    if (has_second) out.push_back(second);
    out.insert(out.end(), data.begin(), data.end());
    const std::size_t length = out.size() - 6 + 1;
    out[4] = static_cast<std::uint8_t>(length >> 8);
    out[5] = static_cast<std::uint8_t>(length);
    out.push_back(XorOf(out, out.size()));
    return out;
}

Bytes EncodeAnswer(std::uint8_t status, const Bytes &data) { return Encode(status, 0, data, false); }

Bytes EncodeCommand(std::uint8_t group, std::uint8_t code, const Bytes &data) {
    return Encode(group, code, data, true);
}

void CommandDecoder::Feed(const std::uint8_t *bytes, std::size_t count) {
    pending_.insert(pending_.end(), bytes, bytes + count);
}

std::optional<Command> CommandDecoder::Next() {
    for (;;) {
        std::size_t start = 0;
        while (start + 1 < pending_.size() && !(pending_[start] == 0x55 && pending_[start + 1] == 0x55))
            ++start;
        if (start + 1 >= pending_.size()) {
            // No start marker yet; a trailing 0x55 may be the first half of one.
            const bool keep_last = !pending_.empty() && pending_.back() == 0x55;
            pending_.erase(pending_.begin(), pending_.end() - (keep_last ? 1 : 0));
            return std::nullopt;
        }
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(start));
        if (pending_.size() < 6) return std::nullopt;
        if (pending_[0] != 0x55 || pending_[1] != 0x55) return std::nullopt;
        const std::size_t length = static_cast<std::size_t>(pending_[4]) * 256 + pending_[5];
        if (length < 3) {
            // Not a command frame: drop the start marker and look further.
            pending_.erase(pending_.begin(), pending_.begin() + 2);
            continue;
        }
        const std::size_t total = length + 6;
        if (pending_.size() < total) return std::nullopt;
        Command cmd;
        cmd.raw.assign(pending_.begin(), pending_.begin() + static_cast<long>(total));
        cmd.group = cmd.raw[6];
        cmd.code = cmd.raw[7];
        cmd.data.assign(cmd.raw.begin() + 8, cmd.raw.end() - 1);
        cmd.checksum_ok = XorOf(cmd.raw, total - 1) == cmd.raw[total - 1];
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(total));
        return cmd;
    }
}

}  // namespace sim
