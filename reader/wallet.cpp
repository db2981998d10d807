// Value-block wallets: set, read, increase and decrease an amount.
#include "reader/block_address.h"
#include "reader/command_support.h"
#include "reader/protocol_codes.h"
#include "reader/messages.h"
#include "zelkor.h"

using namespace zelkor;

namespace {

constexpr int kAmountSize = 4;

// The wallet's address, unless the call must be refused.
bool WalletAddress(int mode, int sector, int block, int card_type, BlockAddress *address) {
    return MakeBlockAddress(mode, sector, block, card_type, address) && !IsTrailer(*address);
}

// Least significant byte first.
CommandFrame &AddAmount(CommandFrame &frame, int amount) {
    const auto value = static_cast<unsigned>(amount);
    for (int i = 0; i < kAmountSize; ++i) frame.Add(static_cast<unsigned char>(value >> (8 * i)));
    return frame;
}

// WalletAdd and WalletDec: direction 0x01 increases, 0x02 decreases.
int ChangeWallet(unsigned char direction, int pending, Message ok, int mode, int sector, int block,
                 int card_type, const unsigned char *amount_ptr) {
    BlockAddress address;
    if (amount_ptr == nullptr || !WalletAddress(mode, sector, block, card_type, &address)) return 0;
    const int amount = LoadInt(amount_ptr);
    if (amount < 0) return 0;
    CommandFrame frame(0x03, 0x06);
    frame.Add(direction);
    AddAmount(AddAddress(frame, address), amount);
    if (!frame.Finish() || Transact(pending, frame) == 0) return 0;
    PrintMessage(ok);
    return 1;
}

}  // namespace

extern "C" {

int WalletInit(int mode, int sector, int block, int card_type, unsigned char *amount_ptr) {
    BlockAddress address;
    if (amount_ptr == nullptr || !WalletAddress(mode, sector, block, card_type, &address)) return 0;
    const int amount = LoadInt(amount_ptr);
    if (amount < 0) return 0;
    CommandFrame frame(0x03, 0x04);
    AddAmount(AddAddress(frame, address), amount);
    if (!frame.Finish() || Transact(pending::kWalletInit, frame) == 0) return 0;
    PrintMessage(Message::kWalletInitOk);
    return 1;
}

int ReadWallet(int mode, int sector, int block, int card_type, unsigned char *amount_ptr) {
    BlockAddress address;
    if (amount_ptr == nullptr || !WalletAddress(mode, sector, block, card_type, &address)) return 0;
    CommandFrame frame(0x03, 0x05);
    AddAddress(frame, address);
    if (!frame.Finish()) return 0;
    const unsigned char *data = TransactData(pending::kReadWallet, frame, kAmountSize);
    if (data == nullptr) {
        StoreInt(amount_ptr, 0);
        return 0;
    }
    unsigned value = 0;
    for (int i = kAmountSize - 1; i >= 0; --i) value = (value << 8U) | data[i];
    StoreInt(amount_ptr, static_cast<int>(value));
    PrintMessage(Message::kReadWalletOk);
    return 1;
}

int WalletAdd(int mode, int sector, int block, int card_type, unsigned char *amount_ptr) {
    return ChangeWallet(0x01, pending::kWalletAdd, Message::kWalletAddOk, mode, sector, block, card_type,
                        amount_ptr);
}

int WalletDec(int mode, int sector, int block, int card_type, unsigned char *amount_ptr) {
    return ChangeWallet(0x02, pending::kWalletDec, Message::kWalletDecOk, mode, sector, block, card_type,
                        amount_ptr);
}

}  // extern "C"
