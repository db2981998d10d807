// CPU card operating system: activation, deactivation, APDU exchange and
// external authentication.
#include "reader/command_support.h"
#include "reader/protocol_codes.h"
#include "reader/messages.h"
#include "zelkor.h"

using namespace zelkor;

namespace {

constexpr int kMaxApduBytes = 89;
constexpr int kMaxKeyBytes = 16;
// Sent when the caller gives no key: 8 bytes under key identifier 0.
constexpr unsigned char kDefaultKey[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
constexpr unsigned char kDefaultKeyId = 0x00;

int Run(int pending, CommandFrame &frame, Message ok) {
    if (!frame.Finish() || Transact(pending, frame) == 0) return 0;
    PrintMessage(ok);
    return 1;
}

}  // namespace

extern "C" {

int CosActivation(void) {
    CommandFrame frame(0x07, 0x01);
    frame.Add(0x52);
    return Run(pending::kCosActivation, frame, Message::kCosActivationOk);
}

int CosDeactive(void) {
    CommandFrame frame(0x07, 0x02);
    return Run(pending::kCosDeactive, frame, Message::kCosDeactiveOk);
}

int SendCosCommand(unsigned char *apdu, int length) {
    if (apdu == nullptr || length < 1 || length > kMaxApduBytes) return 0;
    CommandFrame frame(0x07, 0x03);
    frame.Add(apdu, length);
    return Run(pending::kSendCosCommand, frame, Message::kCosCommandOk);
}

int Exauthentication(unsigned char *key, int length, unsigned char key_id) {
    CommandFrame frame(0x07, 0x04);
    if (key == nullptr) {
        frame.Add(static_cast<unsigned char>(sizeof kDefaultKey))
            .Add(kDefaultKeyId)
            .Add(kDefaultKey, static_cast<int>(sizeof kDefaultKey));
    } else {
        if (length < 0 || length > kMaxKeyBytes) return 0;
        frame.Add(static_cast<unsigned char>(length)).Add(key_id).Add(key, length);
    }
    return Run(pending::kExauthentication, frame, Message::kExauthenticationOk);
}

}  // extern "C"
