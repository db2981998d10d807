// Every text the library prints. Each entry keeps its UTF-8 wording beside the
// GBK bytes that are actually emitted; a unit test checks that the two agree.
#pragma once

#include <cstddef>
#include <string_view>

namespace zelkor {

enum class Message : unsigned char {
    kSendLabel,
    kReceiveLabel,
    kNoAnswer,
    kStatusNoCard,
    kStatusAuthError,
    kStatusNotAuthenticated,
    kStatusBadCardData,
    kStatusCardTimeout,
    kStatusReaderFault,
    kStatusUnsupportedByReader,
    kStatusBadParameters,
    kStatusCosActiveTwice,
    kStatusCosNotActive,
    kStatusUnsupportedByCard,
    kStatusUndefined,
    kKeyAFailed,
    kKeyBFailed,
    kUploadData,
    kFindCardOk,
    kWakeUpOk,
    kSelectCardOk,
    kConflictOk,
    kCardInfoOk,
    kManualCardOk,
    kComposeFindCardOk,
    kPauseCardOk,
    kCommandOk,
    kAntennaOffOk,
    kReaderIdOk,
    kBaudRateOk,
    kReadReaderOk,
    kCheckKeyOk,
    kReadBlockOk,
    kWriteBlockOk,
    kComposeReadOk,
    kComposeWriteOk,
    kWalletInitOk,
    kReadWalletOk,
    kWalletAddOk,
    kWalletDecOk,
    kKeyChangedOk,
    kReadCtrlWordOk,
    kCheckCtrlKeyOk,
    kCosActivationOk,
    kCosDeactiveOk,
    kCosCommandOk,
    kExauthenticationOk,
    kControlWordInvalid,
    kCount
};

struct MessageText {
    std::string_view utf8;
    std::string_view gbk;
};

// The text of `message` in both encodings.
const MessageText &Text(Message message);

// Writes the GBK text of `message` to standard output and flushes it.
void PrintMessage(Message message);

}  // namespace zelkor
