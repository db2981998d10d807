// The reader protocol's codes in one place: the pending code each command
// waits under (kept in the session, never sent; it selects the key-failure
// messages) and the status bytes of an answer.
#pragma once

namespace zelkor {

namespace pending {
inline constexpr int kNone = 0x00;
inline constexpr int kFindCard = 0x01;
inline constexpr int kConflict = 0x02;
inline constexpr int kSelectCard = 0x03;
inline constexpr int kGetCardInfo = 0x04;
inline constexpr int kAutoFindOn = 0x05;
inline constexpr int kAutoFindOff = 0x06;
inline constexpr int kBuzzerOn = 0x07;
inline constexpr int kBuzzerOff = 0x08;
inline constexpr int kAntennaOff = 0x09;
inline constexpr int kManualCard = 0x0A;
inline constexpr int kGetReaderId = 0x0B;
inline constexpr int kReadReader = 0x0C;
inline constexpr int kSetBaudRate = 0x0D;
inline constexpr int kComposeFindCard = 0x0E;
inline constexpr int kPauseCard = 0x0F;
inline constexpr int kCheckKey = 0x10;
inline constexpr int kReadBlock = 0x11;
inline constexpr int kWriteBlock = 0x12;
inline constexpr int kWalletInit = 0x13;
inline constexpr int kReadWallet = 0x14;
inline constexpr int kWalletAdd = 0x15;
inline constexpr int kWalletDec = 0x16;
inline constexpr int kComposeRead = 0x17;
inline constexpr int kComposeWrite = 0x18;
// CheckCtrlKey takes its code from the caller; these select the key messages.
inline constexpr int kKeyACheck = 0x1A;
inline constexpr int kKeyBCheck = 0x1B;
inline constexpr int kModifyControl = 0x1C;
inline constexpr int kKeyACheckAlternate = 0x1D;
inline constexpr int kKeyBCheckAlternate = 0x1E;
inline constexpr int kModifyKey = 0x20;
inline constexpr int kWakeUp = 0x21;
inline constexpr int kReadCtrlWord = 0x22;
inline constexpr int kCosActivation = 0x23;
inline constexpr int kCosDeactive = 0x24;
inline constexpr int kSendCosCommand = 0x25;
inline constexpr int kExauthentication = 0x26;
inline constexpr int kSendM1Command = 0x27;

constexpr bool SelectsKeyAMessage(int code) { return code == kKeyACheck || code == kKeyACheckAlternate; }
constexpr bool SelectsKeyBMessage(int code) { return code == kKeyBCheck || code == kKeyBCheckAlternate; }
}  // namespace pending

namespace status {
inline constexpr unsigned char kSuccess = 0x00;
inline constexpr unsigned char kNoCard = 0x01;
inline constexpr unsigned char kAuthError = 0x06;
inline constexpr unsigned char kNotAuthenticated = 0x0B;
inline constexpr unsigned char kBadCardData = 0x0D;
inline constexpr unsigned char kCardTimeout = 0x1D;
inline constexpr unsigned char kReaderFault = 0x3C;
inline constexpr unsigned char kUnsupportedByReader = 0x3D;
inline constexpr unsigned char kBadParameters = 0x3E;
inline constexpr unsigned char kCosActiveTwice = 0x3F;
inline constexpr unsigned char kCosNotActive = 0x40;
inline constexpr unsigned char kUnsupportedByCard = 0x41;
// Stands for "no status" when a frame is too short to carry one.
inline constexpr unsigned char kMissing = 0xFF;
}  // namespace status

}  // namespace zelkor
