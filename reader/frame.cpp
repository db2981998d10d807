#include "reader/frame.h"

namespace zelkor {

unsigned char Checksum(const unsigned char *bytes, int count) {
    unsigned char sum = 0;
    for (int i = 0; i < count; ++i) sum = static_cast<unsigned char>(sum ^ bytes[i]);
    return sum;
}

CommandFrame::CommandFrame() {
    bytes_[0] = 0x55;
    bytes_[1] = 0x55;
}

CommandFrame::CommandFrame(unsigned char group, unsigned char code) : CommandFrame() {
    Add(group);
    Add(code);
}

CommandFrame &CommandFrame::Add(unsigned char byte) {
    // One byte stays free for the checksum.
    if (size_ >= kFrameCapacity - 1) {
        overflow_ = true;
        return *this;
    }
    bytes_[size_++] = byte;
    return *this;
}

CommandFrame &CommandFrame::Add(const unsigned char *bytes, int count) {
    for (int i = 0; i < count; ++i) Add(bytes[i]);
    return *this;
}

bool CommandFrame::Finish() {
    if (overflow_) {
        size_ = 0;
        return false;
    }
    const int length = size_ - kFrameHeaderSize + 1;  // body plus checksum
    bytes_[4] = static_cast<unsigned char>(length >> 8);
    bytes_[5] = static_cast<unsigned char>(length & 0xFF);
    bytes_[size_] = Checksum(bytes_, size_);
    ++size_;
    return true;
}

}  // namespace zelkor
