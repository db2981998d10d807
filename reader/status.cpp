#include "reader/status.h"

#include "reader/protocol_codes.h"

namespace zelkor {

Message StatusMessage(unsigned char status) {
    switch (status) {
    case status::kNoCard: return Message::kStatusNoCard;
    case status::kAuthError: return Message::kStatusAuthError;
    case status::kNotAuthenticated: return Message::kStatusNotAuthenticated;
    case status::kBadCardData: return Message::kStatusBadCardData;
    case status::kCardTimeout: return Message::kStatusCardTimeout;
    case status::kReaderFault: return Message::kStatusReaderFault;
    case status::kUnsupportedByReader: return Message::kStatusUnsupportedByReader;
    case status::kBadParameters: return Message::kStatusBadParameters;
    case status::kCosActiveTwice: return Message::kStatusCosActiveTwice;
    case status::kCosNotActive: return Message::kStatusCosNotActive;
    case status::kUnsupportedByCard: return Message::kStatusUnsupportedByCard;
    default: return Message::kStatusUndefined;
    }
}

AnswerVerdict UploadVerdict() {
    AnswerVerdict verdict;
    verdict.has_message = true;
    verdict.message = Message::kUploadData;
    return verdict;
}

AnswerVerdict EvaluateAnswer(const unsigned char *bytes, int length, int pending_command) {
    if (length < 2 || bytes[0] != 0x55 || bytes[1] != 0x55) return UploadVerdict();
    AnswerVerdict verdict;
    verdict.is_frame = true;
    // A frame too short to carry a status byte cannot report success.
    const unsigned char status = length > kStatusOffset ? bytes[kStatusOffset] : status::kMissing;
    if (status == status::kSuccess) {
        verdict.success = true;
        return verdict;
    }
    verdict.has_message = true;
    if (pending::SelectsKeyAMessage(pending_command)) {
        verdict.message = Message::kKeyAFailed;
    } else if (pending::SelectsKeyBMessage(pending_command)) {
        verdict.message = Message::kKeyBFailed;
    } else {
        verdict.message = StatusMessage(status);
    }
    return verdict;
}

}  // namespace zelkor
