// Arbitrary bytes from the line, in arbitrary splits, fed to the receive path
// while commands wait: assembly, evaluation, trace and hand-over.
// Input: a sequence of records <n> <n bytes>; n = 0 starts a new exchange
// (the next byte picks its pending command code), n = 255 takes the answer.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "exchange.h"
#include "session.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
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
            // A waiting command takes the hand-over, if there is one.
            if (s.answer_signal.Wait(0)) {
                std::lock_guard lock(s.data_lock);
                Check(s.woken_length > 0 && s.woken_length <= zelkor::kCopySize);
            }
            continue;
        }
        const std::size_t count = n < size - at ? n : size - at;
        zelkor::ReceiveChunk(s, data + at, static_cast<int>(count), s.exchange_number.load());
        at += count;
        std::lock_guard lock(s.data_lock);
        Check(s.received_length >= 0 && s.received_length <= zelkor::kCopySize);
        Check(s.assembly.size() >= 0 && s.assembly.size() < zelkor::kCopySize + 1);
        Check(s.received_length == s.assembly.size() || s.assembly.size() == 0);
    }
    // Leave nothing for the next input.
    s.answer_signal.Reset();
    std::lock_guard lock(s.data_lock);
    s.assembly.Clear();
    return 0;
}
