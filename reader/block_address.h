// MIFARE Classic addressing shared by the block, wallet and trailer commands:
// the three address bytes, the capacity check, the trailer guard, the
// key-type byte and the trailer's access condition. Pure code.
#pragma once

#include "reader/frame.h"

namespace zelkor {

inline constexpr int kCardS50 = 11;
inline constexpr int kCardS70 = 12;

inline constexpr unsigned char kKeyTypeA = 0x60;
inline constexpr unsigned char kKeyTypeB = 0x61;
inline constexpr unsigned char kKeyTypeNone = 0x00;

inline constexpr int kKeySize = 6;
inline constexpr int kBlockSize = 16;
inline constexpr int kAccessSize = 4;

// Addressing flag, sector and block as they go out on the wire.
struct BlockAddress {
    unsigned char flag = 0;
    unsigned char sector = 0;
    unsigned char block = 0;
};

// The address for `mode` (0 absolute, other relative). False when it cannot
// be sent: a negative or over-byte block, a negative or over-byte sector
// under relative addressing, or a block beyond the card's capacity.
bool MakeBlockAddress(int mode, int sector, int block, int card_type, BlockAddress *address);

// Appends the three address bytes.
inline CommandFrame &AddAddress(CommandFrame &frame, const BlockAddress &address) {
    return frame.Add(address.flag).Add(address.sector).Add(address.block);
}

// Absolute block number beyond what an S50 (64) or S70 (256) holds.
bool ExceedsCapacity(int mode, int block, int card_type);

// Whether the address names a sector trailer.
bool IsTrailer(const BlockAddress &address);

// Block of the sector's trailer within the sector: 3, or 15 from sector 32 on.
unsigned char TrailerBlock(int sector);

// A sector number the trailer commands can send.
bool ValidSector(int sector);

// 0x60 for key A (0), 0x61 for key B (1), 0x00 for anything else.
unsigned char KeyTypeByte(int key_type);

// Access number n = 4 C1 + 2 C2 + C3 of the trailer's own bits.
int TrailerAccessNumber(const unsigned char *access);

// Whether the inverted copies of the access bits match the plain ones.
bool AccessBytesConsistent(const unsigned char *access);

// Key-type byte with which the sector's keys, or its access bytes, may be
// written under access number n (kKeyTypeNone: no key may).
unsigned char KeyWriteKeyType(int n);
unsigned char AccessWriteKeyType(int n);

}  // namespace zelkor
