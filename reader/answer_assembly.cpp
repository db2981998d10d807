#include "answer_assembly.h"

#include <cstring>

namespace zelkor {

bool AnswerAssembly::Append(const unsigned char *bytes, int count) {
    if (count <= 0) return false;
    if (size_ == 0 && count <= kAssemblyCapacity) {
        std::memcpy(bytes_, bytes, static_cast<size_t>(count));
        size_ = count;
    } else if (size_ + count >= kAssemblyCapacity) {
        return false;
    } else {
        std::memcpy(bytes_ + size_, bytes, static_cast<size_t>(count));
        size_ += count;
    }
    return IsComplete();
}

bool AnswerAssembly::IsComplete() const {
    if (bytes_[0] != 0x55) return true;
    if (size_ == 1) return false;
    if (bytes_[1] != 0x55) return true;
    if (size_ < 6) return false;
    return bytes_[4] * 256 + bytes_[5] == size_ - 6;
}

void AnswerAssembly::Clear() {
    std::memset(bytes_, 0, sizeof bytes_);
    size_ = 0;
}

}  // namespace zelkor
