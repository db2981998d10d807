// A pseudo-terminal pair: the simulated reader holds the master side, the
// library opens the slave side as if it were a serial port.
#pragma once

#include <string>

namespace sim {

class PseudoTerminal {
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    bool Open();
    // Closes both sides: to the library this is the reader unplugged.
    void Close();

    int master() const { return master_; }
    const std::string &slave_path() const { return slave_path_; }
    // Line speed the slave side is set to now (0 when unknown).
    int SlaveBaud() const;

private:
    int master_ = -1;
    int slave_ = -1;  // kept open so the master never reads EIO between sessions
    std::string slave_path_;
};

// Creates `dir`/COM<port> as a symbolic link to `device` (replacing an old one).
bool PublishPort(const std::string &dir, int port, const std::string &device);

}  // namespace sim
