#include "whole_card_link.h"

#include <algorithm>
#include <vector>

#include "zelkor.h"

// The toolkit's ReaderCardLink can only be made from a ReaderSession, which
// opens the port itself and closes it when it goes; in Parvex the serial
// panel owns the open port with the operator's line settings. This link
// makes the same library calls over the session that is already open.

namespace card = zelkor::card;

namespace {

constexpr int kRelative = 1;       // addressing mode: sector and block within it
constexpr int kSelectCode = 0x93;  // cascade level 1
constexpr int kAnswerBufferSize = 1024;
constexpr int kDataStart = 7;  // answer: 55 55 00 00 length length status data… checksum
constexpr int kUltraLight = 10;
constexpr int kMaxApdu = 89;

int OffsetInSector(int block) { return block - card::FirstBlock(card::SectorOfBlock(block)); }

// Data bytes of the last answer (between the status byte and the checksum).
std::vector<std::uint8_t> LastAnswerData() {
    unsigned char buffer[kAnswerBufferSize];
    const int length = GetReaderRecvData(buffer);
    if (length <= kDataStart || length > kAnswerBufferSize) return {};
    return std::vector<std::uint8_t>(buffer + kDataStart, buffer + length - 1);
}

class OpenSessionCardLink : public card::CardLink {
public:
    std::optional<card::CardIdentity> Identify() override {
        card::CardIdentity identity;
        if (FindCard() != 1) return std::nullopt;
        if (const auto atqa = LastAnswerData(); atqa.size() >= 2) identity.atqa = std::array{atqa[0], atqa[1]};
        card_info info{};
        if (Conflict(&info) == 1 && SelectCard(kSelectCode) == 1) {
            if (const auto sak = LastAnswerData(); !sak.empty()) identity.sak = sak[0];
        }
        if (GetCardInfo(&info) != 1) return std::nullopt;
        identity.type_code = info.card_type;
        identity.kind = card::KindOfTypeCode(info.card_type);
        identity.uid.assign(info.uid, info.uid + (info.card_type == kUltraLight ? 6 : 4));
        if (identity.kind) type_code_ = info.card_type;
        return identity;
    }

    bool Reselect() override {
        if (ComposeFindCard() == 1) return true;
        // A card halted earlier answers only the wake-up request.
        return WakeUp() != 0 && SelectCard(kSelectCode) == 1;
    }

    bool Authenticate(int sector, card::KeyType type, const card::Key &key) override {
        card::Key copy = key;
        return CheckKey(type_code_, kRelative, sector, 0, type == card::KeyType::A ? 0 : 1, copy.data()) == 1;
    }

    std::optional<card::Block> ReadBlock(int block) override {
        card::Block out{};
        if (::ReadBlock(kRelative, card::SectorOfBlock(block), OffsetInSector(block), type_code_, out.data()) != 1)
            return std::nullopt;
        return out;
    }

    bool WriteBlock(int block, const card::Block &data) override {
        if (card::IsTrailer(block)) return false;
        card::Block copy = data;
        return ::WriteBlock(kRelative, card::SectorOfBlock(block), OffsetInSector(block), type_code_, copy.data()) == 1;
    }

    // The trailer functions' combined write (group 0x03, code 0x07, direction
    // 0x01) as a raw command: direction, relative addressing, sector, trailer
    // within the sector, key-type byte, key, the 16 trailer bytes.
    bool WriteTrailer(int sector, const card::Block &trailer, card::KeyType type, const card::Key &auth_key) override {
        std::vector<unsigned char> frame{0x03, 0x07, 0x01, 0x00, static_cast<unsigned char>(sector),
                                         static_cast<unsigned char>(card::BlocksInSector(sector) - 1),
                                         static_cast<unsigned char>(type == card::KeyType::A ? 0x60 : 0x61)};
        frame.insert(frame.end(), auth_key.begin(), auth_key.end());
        frame.insert(frame.end(), trailer.begin(), trailer.end());
        return SendM1Command(frame.data(), static_cast<int>(frame.size())) == 1;
    }

    bool InitValue(int block, std::int32_t value) override {
        if (value < 0 || card::IsTrailer(block)) return false;
        int amount = value;
        return WalletInit(kRelative, card::SectorOfBlock(block), OffsetInSector(block), type_code_,
                          reinterpret_cast<unsigned char *>(&amount)) == 1;
    }

    std::optional<std::int32_t> ReadValue(int block) override {
        if (card::IsTrailer(block)) return std::nullopt;
        int amount = 0;
        if (ReadWallet(kRelative, card::SectorOfBlock(block), OffsetInSector(block), type_code_,
                       reinterpret_cast<unsigned char *>(&amount)) != 1)
            return std::nullopt;
        return amount;
    }

    bool ChangeValue(int block, bool increment, std::int32_t amount) override {
        if (amount < 0 || card::IsTrailer(block)) return false;
        int value = amount;
        auto *bytes = reinterpret_cast<unsigned char *>(&value);
        const int sector = card::SectorOfBlock(block);
        const int offset = OffsetInSector(block);
        return (increment ? WalletAdd(kRelative, sector, offset, type_code_, bytes)
                          : WalletDec(kRelative, sector, offset, type_code_, bytes)) == 1;
    }

    std::optional<std::vector<std::uint8_t>> ActivateCos() override {
        if (CosActivation() != 1) return std::nullopt;
        return LastAnswerData();
    }

    std::optional<std::vector<std::uint8_t>> SendApdu(std::span<const std::uint8_t> apdu) override {
        if (apdu.empty() || apdu.size() > static_cast<std::size_t>(kMaxApdu)) return std::nullopt;
        std::vector<unsigned char> copy(apdu.begin(), apdu.end());
        if (SendCosCommand(copy.data(), static_cast<int>(copy.size())) != 1) return std::nullopt;
        return LastAnswerData();
    }

    bool DeactivateCos() override { return CosDeactive() == 1; }

private:
    int type_code_ = 11;
};

}  // namespace

std::unique_ptr<card::CardLink> NewLibraryCardLink() { return std::make_unique<OpenSessionCardLink>(); }
