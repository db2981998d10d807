// The simulator's own codec for the reader protocol, written independently of
// the library's so that a mistake in one is caught by the other.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace sim {

using Bytes = std::vector<std::uint8_t>;

// A command frame as the reader receives it.
struct Command {
    std::uint8_t group = 0;
    std::uint8_t code = 0;
    Bytes data;     // bytes between code and checksum
    Bytes raw;      // the whole frame as received
    bool checksum_ok = true;
};

// Answer frame: 55 55 00 00 <len hi> <len lo> <status> <data> <xor of all before>.
Bytes EncodeAnswer(std::uint8_t status, const Bytes &data = {});

// Command frame, for tests that speak to the simulator directly.
Bytes EncodeCommand(std::uint8_t group, std::uint8_t code, const Bytes &data = {});

std::uint8_t XorOf(const Bytes &bytes, std::size_t count);

// Cuts command frames out of a byte stream; bytes before a start marker are skipped.
class CommandDecoder {
public:
    void Feed(const std::uint8_t *bytes, std::size_t count);
    std::optional<Command> Next();
    void Reset() { pending_.clear(); }

private:
    Bytes pending_;
};

}  // namespace sim
