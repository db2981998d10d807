// MIFARE Classic key check, block read and write, and the combined read and
// write that authenticate and access a block in one command.
#include <cstring>

#include "reader/block_address.h"
#include "reader/command_support.h"
#include "reader/protocol_codes.h"
#include "reader/messages.h"
#include "zelkor.h"

using namespace zelkor;

namespace {

constexpr unsigned char kDirectionRead = 0x00;
constexpr unsigned char kDirectionWrite = 0x01;

const unsigned char *KeyBytes(char const *key) { return reinterpret_cast<const unsigned char *>(key); }

}  // namespace

extern "C" {

int CheckKey(int card_type, int mode, int sector, int block, int key_type, unsigned char *key) {
    BlockAddress address;
    if (key == nullptr || !MakeBlockAddress(mode, sector, block, card_type, &address)) return 0;
    CommandFrame frame(0x03, 0x01);
    AddAddress(frame, address).Add(KeyTypeByte(key_type)).Add(key, kKeySize);
    if (!frame.Finish() || Transact(pending::kCheckKey, frame) == 0) return 0;
    PrintMessage(Message::kCheckKeyOk);
    return 1;
}

int ReadBlock(int mode, int sector, int block, int card_type, unsigned char *out) {
    BlockAddress address;
    if (out == nullptr || !MakeBlockAddress(mode, sector, block, card_type, &address)) return 0;
    CommandFrame frame(0x03, 0x02);
    AddAddress(frame, address);
    if (!frame.Finish()) return 0;
    const unsigned char *data = TransactData(pending::kReadBlock, frame, kBlockSize);
    if (data == nullptr) return 0;
    std::memcpy(out, data, kBlockSize);
    PrintMessage(Message::kReadBlockOk);
    return 1;
}

int WriteBlock(int mode, int sector, int block, int card_type, unsigned char *data) {
    BlockAddress address;
    if (data == nullptr || !MakeBlockAddress(mode, sector, block, card_type, &address) ||
        IsTrailer(address)) {
        return 0;
    }
    CommandFrame frame(0x03, 0x03);
    AddAddress(frame, address).Add(data, kBlockSize);
    if (!frame.Finish() || Transact(pending::kWriteBlock, frame) == 0) return 0;
    PrintMessage(Message::kWriteBlockOk);
    return 1;
}

int ComposeRead(int mode, int sector, int block, int card_type, unsigned char *out,
                KeyType key_type, char const *key) {
    BlockAddress address;
    if (out == nullptr || key == nullptr ||
        !MakeBlockAddress(mode, sector, block, card_type, &address)) {
        return 0;
    }
    CommandFrame frame(0x03, 0x07);
    frame.Add(kDirectionRead);
    AddAddress(frame, address).Add(KeyTypeByte(key_type)).Add(KeyBytes(key), kKeySize);
    if (!frame.Finish()) return 0;
    const unsigned char *data = TransactData(pending::kComposeRead, frame, kBlockSize);
    if (data == nullptr) return 0;
    std::memcpy(out, data, kBlockSize);
    PrintMessage(Message::kComposeReadOk);
    return 1;
}

int ComposeWrite(int mode, int sector, int block, int card_type, unsigned char *data,
                 KeyType key_type, char const *key) {
    BlockAddress address;
    if (data == nullptr || key == nullptr ||
        !MakeBlockAddress(mode, sector, block, card_type, &address) || IsTrailer(address)) {
        return 0;
    }
    CommandFrame frame(0x03, 0x07);
    frame.Add(kDirectionWrite);
    AddAddress(frame, address)
        .Add(KeyTypeByte(key_type))
        .Add(KeyBytes(key), kKeySize)
        .Add(data, kBlockSize);
    if (!frame.Finish() || Transact(pending::kComposeWrite, frame) == 0) return 0;
    PrintMessage(Message::kComposeWriteOk);
    return 1;
}

}  // extern "C"
