#include "reader/block_address.h"

namespace zelkor {

namespace {
constexpr int kByteMax = 0xFF;
}

bool ExceedsCapacity(int mode, int block, int card_type) {
    if (mode != 0) return false;
    if (card_type == kCardS50) return block >= 64;
    if (card_type == kCardS70) return block >= 256;
    return false;
}

bool MakeBlockAddress(int mode, int sector, int block, int card_type, BlockAddress *address) {
    if (block < 0 || block > kByteMax) return false;
    if (ExceedsCapacity(mode, block, card_type)) return false;
    if (mode == 0) {
        address->flag = 0x01;
        address->sector = 0x00;
    } else {
        if (sector < 0 || sector > kByteMax) return false;
        address->flag = 0x00;
        address->sector = static_cast<unsigned char>(sector);
    }
    address->block = static_cast<unsigned char>(block);
    return true;
}

bool IsTrailer(const BlockAddress &address) {
    const int block = address.block;
    if (address.flag == 0x01) {
        if (block < 128) return (block + 1) % 4 == 0;
        return (block - 127) % 16 == 0;
    }
    return block == 15 || (block == 3 && address.sector < 32);
}

unsigned char TrailerBlock(int sector) { return sector < 32 ? 3 : 15; }

bool ValidSector(int sector) { return sector >= 0 && sector <= kByteMax; }

unsigned char KeyTypeByte(int key_type) {
    if (key_type == 0) return kKeyTypeA;
    if (key_type == 1) return kKeyTypeB;
    return kKeyTypeNone;
}

int TrailerAccessNumber(const unsigned char *access) {
    const int c1 = (access[1] >> 7) & 1;
    const int c2 = (access[2] >> 3) & 1;
    const int c3 = (access[2] >> 7) & 1;
    return 4 * c1 + 2 * c2 + c3;
}

bool AccessBytesConsistent(const unsigned char *access) {
    // Byte 6 holds ~C2 | ~C1, the low half of byte 7 holds ~C3.
    const unsigned plain = (static_cast<unsigned>(access[2]) << 4) | (access[1] >> 4);
    const unsigned inverted_c2_c1 = ~plain & 0xFFU;
    const unsigned inverted_c3 = (~static_cast<unsigned>(access[2]) >> 4) & 0x0FU;
    return access[0] == inverted_c2_c1 && (access[1] & 0x0FU) == inverted_c3;
}

unsigned char KeyWriteKeyType(int n) {
    if (n == 0 || n == 1) return kKeyTypeA;
    if (n == 3 || n == 4) return kKeyTypeB;
    return kKeyTypeNone;
}

unsigned char AccessWriteKeyType(int n) {
    if (n == 1) return kKeyTypeA;
    if (n == 3 || n == 5) return kKeyTypeB;
    return kKeyTypeNone;
}

}  // namespace zelkor
