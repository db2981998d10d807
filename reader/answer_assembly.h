// Assembly of the byte stream from the reader into pieces.
// Answer frame: 55 55 xx xx <L hi> <L lo> <status> <data: L-2 bytes> <checksum>;
// it ends after exactly L + 6 bytes, and whatever follows belongs to the next
// piece. Bytes before a 55 55 start are data the reader sent on its own
// (upload data). One read may end inside a piece or hold several.
// Pure code: no I/O, no allocation.
#pragma once

namespace zelkor {

inline constexpr int kAssemblyCapacity = 1024;

enum class PieceKind { kFrame, kUpload };

struct Piece {
    PieceKind kind = PieceKind::kUpload;
    const unsigned char *bytes = nullptr;  // valid until the next Append or Clear
    int length = 0;
};

class AnswerAssembly {
public:
    // Takes as many of `count` bytes as there is room for and returns how
    // many it took. 0 means the buffer is full with a frame that cannot
    // complete: the caller drops the rest.
    int Append(const unsigned char *bytes, int count);
    // Removes the next complete piece from the front of the held bytes;
    // false while what is held can still grow into a frame.
    bool Next(Piece *piece);
    void Clear();

    // The held bytes that are not a complete piece yet: a frame as far as it
    // arrived, or nothing.
    const unsigned char *data() const { return bytes_ + start_; }
    int size() const { return size_ - start_; }

private:
    unsigned char bytes_[kAssemblyCapacity] = {};
    int start_ = 0;  // bytes before this index were handed out by Next
    int size_ = 0;
};

}  // namespace zelkor
