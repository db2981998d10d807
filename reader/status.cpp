#include "status.h"

namespace zelkor {

Message StatusMessage(unsigned char status) {
    switch (status) {
    case 0x01: return Message::kStatusNoCard;
    case 0x06: return Message::kStatusAuthError;
    case 0x0B: return Message::kStatusNotAuthenticated;
    case 0x0D: return Message::kStatusBadCardData;
    case 0x1D: return Message::kStatusCardTimeout;
    case 0x3C: return Message::kStatusReaderFault;
    case 0x3D: return Message::kStatusUnsupportedByReader;
    case 0x3E: return Message::kStatusBadParameters;
    case 0x3F: return Message::kStatusCosActiveTwice;
    case 0x40: return Message::kStatusCosNotActive;
    case 0x41: return Message::kStatusUnsupportedByCard;
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
    const unsigned char status = length > kStatusOffset ? bytes[kStatusOffset] : 0xFF;
    if (status == 0) {
        verdict.success = true;
        return verdict;
    }
    verdict.has_message = true;
    if (pending_command == 0x1A || pending_command == 0x1D) {
        verdict.message = Message::kKeyAFailed;
    } else if (pending_command == 0x1B || pending_command == 0x1E) {
        verdict.message = Message::kKeyBFailed;
    } else {
        verdict.message = StatusMessage(status);
    }
    return verdict;
}

}  // namespace zelkor
