#include "reader/answer_assembly.h"

#include <algorithm>
#include <cstring>

namespace zelkor {
namespace {

constexpr unsigned char kStartByte = 0x55;
constexpr int kHeaderSize = 6;

// Index of the first byte that may begin a frame, or `count` when none can.
// A start marker is the last two bytes of a run of 0x55: answers never carry
// 0x55 right after their marker, so earlier ones in the run are stray.
int FindStart(const unsigned char *bytes, int count) {
    for (int i = 0; i < count; ++i) {
        if (bytes[i] != kStartByte) continue;
        if (i + 1 == count) return i;  // may be the first half of a marker
        if (bytes[i + 1] != kStartByte) continue;
        if (i + 2 == count || bytes[i + 2] != kStartByte) return i;
    }
    return count;
}

}  // namespace

int AnswerAssembly::Append(const unsigned char *bytes, int count) {
    if (start_ > 0) {
        std::memmove(bytes_, bytes_ + start_, static_cast<size_t>(size_ - start_));
        size_ -= start_;
        start_ = 0;
    }
    const int taken = std::clamp(count, 0, kAssemblyCapacity - size_);
    std::memcpy(bytes_ + size_, bytes, static_cast<size_t>(taken));
    size_ += taken;
    return taken;
}

bool AnswerAssembly::Next(Piece *piece) {
    const unsigned char *held = bytes_ + start_;
    const int count = size_ - start_;
    if (count == 0) return false;
    const int frame_start = FindStart(held, count);
    if (frame_start > 0) {
        *piece = {PieceKind::kUpload, held, frame_start};
        start_ += frame_start;
        return true;
    }
    if (count < kHeaderSize) return false;
    const int frame_size = held[4] * 256 + held[5] + kHeaderSize;
    if (count < frame_size) return false;
    *piece = {PieceKind::kFrame, held, frame_size};
    start_ += frame_size;
    return true;
}

void AnswerAssembly::Clear() {
    std::memset(bytes_, 0, sizeof bytes_);
    start_ = 0;
    size_ = 0;
}

}  // namespace zelkor
