// The reader named on the command line (-p, -b) with an open session and a
// link to the card in its field.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "card/card_link.h"
#include "card/reader_card_link.h"
#include "cli/platform.h"
#include "cli/program.h"

namespace zelkor::cli {

struct ReaderOptions {
    std::string port;
    int baud = 9600;
};

// -p/--port, -b/--baud, -v and --trace on `command`.
void AddReaderOptions(Program &program, CLI::App *command, ReaderOptions &options);

// The port as given: a number ("7", "COM7") or a device path ("/dev/ttyUSB0",
// "ttyUSB0", "/dev/serial/by-id/..."). UsageError when it is neither.
struct PortArgument {
    int number = 0;      // set for a number
    std::string device;  // set for a device path
};
PortArgument ParsePortArgument(std::string_view text);

class ReaderAccess {
public:
    // Opens the session; UsageError for a bad port argument, CardError when
    // the port cannot be opened.
    explicit ReaderAccess(const ReaderOptions &options);

    card::ReaderCardLink &link() { return *link_; }
    // The card in the field; CardError when none answers.
    card::CardIdentity Identify();
    // The same, and CardError unless it is a MIFARE Classic 1K or 4K card.
    card::CardIdentity IdentifyClassic();
    // CardError unless `identity` is a MIFARE Classic 1K or 4K card.
    static void RequireClassic(const card::CardIdentity &identity);

private:
    std::unique_ptr<platform::PublishedPort> published_;
    std::optional<card::ReaderSession> session_;
    std::optional<card::ReaderCardLink> link_;
};

}  // namespace zelkor::cli
