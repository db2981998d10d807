// Arbitrary bytes from the line, in arbitrary splits, fed to the receive path
// while commands wait: assembly, evaluation, trace and hand-over.
// Input: a sequence of records <n> <n bytes>; n = 0 starts a new exchange
// (the next byte picks its pending command code), n = 255 takes the next
// answer the waiting command would get.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "reader/exchange.h"
#include "reader/session.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

// The next answer frame posted for the command: a whole frame, nothing else.
void TakeAnswer(zelkor::ReaderSession &s) {
    std::lock_guard lock(s.data_lock);
    zelkor::AnswerMailbox::Entry entry;
    if (!s.mailbox.Take(&entry)) return;
    Check(entry.length >= 6 && entry.length <= zelkor::kAssemblyCapacity);
    Check(entry.bytes[0] == 0x55 && entry.bytes[1] == 0x55);
    Check(entry.length == entry.bytes[4] * 256 + entry.bytes[5] + 6);
    Check(entry.good == (entry.length > 6 && entry.bytes[6] == 0));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // Traces go nowhere; the code that prints them still runs.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    zelkor::ReaderSession &s = zelkor::Session();
    static const unsigned char kFrame[] = {0x55, 0x55, 0x00, 0x00, 0x00, 0x04, 0x02, 0x01, 0x26, 0x21};
    std::size_t at = 0;
    while (at < size) {
        const std::size_t n = data[at++];
        if (n == 0) {
            const int pending = at < size ? data[at++] : 0x01;
            zelkor::SendFrame(pending, kFrame, sizeof kFrame);
            continue;
        }
        if (n == 255) {
            TakeAnswer(s);
            continue;
        }
        const std::size_t count = n < size - at ? n : size - at;
        zelkor::ReceiveChunk(s, data + at, static_cast<int>(count), zelkor::CurrentExchange(s));
        at += count;
        std::lock_guard lock(s.data_lock);
        Check(s.received_length >= 0 && s.received_length <= zelkor::kCopySize);
        Check(s.assembly.size() >= 0 && s.assembly.size() <= zelkor::kAssemblyCapacity);
        // What stays held can only be the beginning of a frame.
        Check(s.assembly.size() == 0 || s.assembly.data()[0] == 0x55);
    }
    // Leave nothing for the next input.
    std::lock_guard lock(s.data_lock);
    s.mailbox.Clear();
    s.assembly.Clear();
    return 0;
}
