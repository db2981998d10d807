// Command frames, library to reader: 55 55 00 00 <length hi> <length lo>
// <group> <code> <data...> <checksum>, where the length counts the bytes
// after itself and the checksum is the exclusive-or of all bytes before it.
// Pure code: no I/O, no allocation.
#pragma once

namespace zelkor {

inline constexpr int kFrameCapacity = 256;
inline constexpr int kFrameHeaderSize = 6;  // start bytes, two zeros, length

// Exclusive-or of `count` bytes.
unsigned char Checksum(const unsigned char *bytes, int count);

class CommandFrame {
public:
    // A frame with no body yet; Add() the group, code and data.
    CommandFrame();
    CommandFrame(unsigned char group, unsigned char code);

    CommandFrame &Add(unsigned char byte);
    CommandFrame &Add(const unsigned char *bytes, int count);
    // Fills in the length field and appends the checksum. False (and an empty
    // frame) when the bytes added would not fit in kFrameCapacity.
    bool Finish();

    const unsigned char *data() const { return bytes_; }
    int size() const { return size_; }

private:
    unsigned char bytes_[kFrameCapacity] = {};
    int size_ = kFrameHeaderSize;
    bool overflow_ = false;
};

}  // namespace zelkor
