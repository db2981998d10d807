// Assembly of answer frames from the pieces that reads deliver.
// Answer frame: 55 55 xx xx <L hi> <L lo> <status> <data: L-2 bytes> <checksum>;
// complete when exactly L + 6 bytes are held. Bytes that do not start with
// 55 55 are data the reader sent on its own and are complete at once.
// Pure code: no I/O, no allocation.
#pragma once

namespace zelkor {

inline constexpr int kAssemblyCapacity = 1024;

class AnswerAssembly {
public:
    // Adds the bytes of one read. True when a whole answer (or a run of
    // non-frame bytes) is held. Bytes that would fill the buffer are dropped.
    bool Append(const unsigned char *bytes, int count);
    void Clear();

    const unsigned char *data() const { return bytes_; }
    int size() const { return size_; }

private:
    bool IsComplete() const;

    unsigned char bytes_[kAssemblyCapacity] = {};
    int size_ = 0;
};

}  // namespace zelkor
