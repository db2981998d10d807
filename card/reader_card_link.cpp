#include "card/reader_card_link.h"

#include <algorithm>
#include <atomic>
#include <utility>

#include "zelkor.h"

namespace zelkor::card {

namespace {

constexpr int kRelative = 1;          // addressing mode: sector + block within it
constexpr int kAbsolute = 0;
constexpr int kSelectCode = 0x93;     // cascade level 1
constexpr std::size_t kAnswerBufferSize = 1024;
constexpr std::size_t kDataStart = 7;  // answer bytes: 55 55 00 00 len len status data... checksum
constexpr int kMaxApdu = 89;

// 55 55 00 00, two length bytes, then that many: a reader that is still
// there finishes every answer it starts.
bool IsWholeAnswer(const unsigned char *answer, int length) {
    constexpr int kHeader = 6;
    return length > kHeader && length == kHeader + (answer[4] << 8 | answer[5]);
}

int OffsetInSector(int block) { return block - FirstBlock(SectorOfBlock(block)); }

// The library keeps one session per process and opening another closes the
// first: a second ReaderSession would be closed under the first one's feet.
std::atomic<bool> g_session_alive{false};

}  // namespace

std::optional<ReaderSession> ReaderSession::Open(int port, int baud) {
    if (g_session_alive.exchange(true)) return std::nullopt;
    if (OpenReader(port, baud, 8, 0, 0) != 1) {
        g_session_alive = false;
        return std::nullopt;
    }
    ReaderSession session(port, baud);
    session.open_ = true;
    return session;
}

ReaderSession::~ReaderSession() {
    if (!open_) return;
    CloseReader();
    g_session_alive = false;
}

ReaderSession::ReaderSession(ReaderSession &&other) noexcept
    : port_(other.port_), baud_(other.baud_), open_(std::exchange(other.open_, false)) {}

ReaderSession &ReaderSession::operator=(ReaderSession &&other) noexcept {
    if (this != &other) {
        if (open_) {
            CloseReader();
            g_session_alive = false;
        }
        port_ = other.port_;
        baud_ = other.baud_;
        open_ = std::exchange(other.open_, false);
    }
    return *this;
}

ReaderCardLink::ReaderCardLink(const ReaderSession &) {}

int ReaderCardLink::Count(int result) {
    unsigned char buffer[kAnswerBufferSize];
    ++counters_.exchanges;
    counters_.wire_bytes += GetReaderSendCmd(buffer);
    const int received = GetReaderRecvData(buffer);
    counters_.wire_bytes += received;
    answered_ = IsWholeAnswer(buffer, received);
    return result;
}

std::vector<std::uint8_t> ReaderCardLink::LastAnswerData() {
    unsigned char buffer[kAnswerBufferSize];
    const int length = GetReaderRecvData(buffer);
    // Status byte, data, checksum: data is everything between.
    if (length <= static_cast<int>(kDataStart)) return {};
    return std::vector<std::uint8_t>(buffer + kDataStart, buffer + length - 1);
}

std::optional<CardIdentity> ReaderCardLink::Identify() {
    CardIdentity identity;
    // A halted card answers only the wake-up request.
    if (Count(FindCard()) != 1 && Count(WakeUp()) == 0) return std::nullopt;
    if (const auto atqa = LastAnswerData(); atqa.size() >= 2) identity.atqa = std::array<std::uint8_t, 2>{atqa[0], atqa[1]};
    card_info info{};
    if (Count(Conflict(&info)) == 1 && Count(SelectCard(kSelectCode)) == 1) {
        if (const auto sak = LastAnswerData(); !sak.empty()) identity.sak = sak[0];
    }
    if (Count(GetCardInfo(&info)) != 1) return std::nullopt;
    identity.type_code = info.card_type;
    identity.kind = KindOfCard(info.card_type, identity.sak);
    // The reader gives 6 serial-number bytes for an UltraLight and 4 otherwise.
    identity.uid.assign(info.uid, info.uid + (info.card_type == 10 ? 6 : 4));
    unsigned char serial[128] = {};
    int length = 0;
    if (Count(GetReaderId(serial, &length)) == 1 && length > 0)
        identity.reader_serial.assign(serial, serial + std::min(length, static_cast<int>(sizeof serial)));
    type_code_ = identity.kind ? info.card_type : type_code_;
    identified_uid_ = identity.uid;
    return identity;
}

std::vector<std::uint8_t> ReaderCardLink::SelectedUid(bool after_combined_search) {
    const std::size_t size = identified_uid_.empty() ? 4 : identified_uid_.size();
    if (after_combined_search) {
        const auto data = LastAnswerData();
        if (data.size() >= 1 + size) return {data.begin() + 1, data.begin() + 1 + static_cast<std::ptrdiff_t>(size)};
    }
    card_info info{};
    if (Count(GetCardInfo(&info)) != 1) return {};
    return {info.uid, info.uid + std::min(size, sizeof info.uid)};
}

Reselection ReaderCardLink::Compared(std::vector<std::uint8_t> uid) const {
    if (uid.empty()) return {answered_ ? Selection::NoCard : Selection::ReaderGone, {}};
    const bool same = identified_uid_.empty() || uid == identified_uid_;
    return {same ? Selection::SameCard : Selection::OtherCard, std::move(uid)};
}

Reselection ReaderCardLink::Reselect() {
    ++counters_.reselects;
    if (!answered_) return {Selection::ReaderGone, {}};
    if (Count(ComposeFindCard()) == 1) return Compared(SelectedUid(true));
    if (!answered_) return {Selection::ReaderGone, {}};
    // A card halted earlier answers only the wake-up request.
    if (Count(WakeUp()) != 0 && Count(SelectCard(kSelectCode)) == 1) return Compared(SelectedUid(false));
    return Compared({});
}

bool ReaderCardLink::Authenticate(int sector, KeyType type, const Key &key) {
    ++counters_.authentications;
    Key copy = key;
    return Count(CheckKey(type_code_, kRelative, sector, 0, type == KeyType::A ? 0 : 1, copy.data())) == 1;
}

std::optional<Block> ReaderCardLink::ReadBlock(int block) {
    Block out{};
    if (Count(::ReadBlock(kRelative, SectorOfBlock(block), OffsetInSector(block), type_code_, out.data())) != 1)
        return std::nullopt;
    ++counters_.blocks_read;
    return out;
}

bool ReaderCardLink::WriteBlock(int block, const Block &data) {
    if (IsTrailer(block)) return false;  // the library refuses them without sending
    Block copy = data;
    if (Count(::WriteBlock(kRelative, SectorOfBlock(block), OffsetInSector(block), type_code_, copy.data())) != 1)
        return false;
    ++counters_.blocks_written;
    return true;
}

// The combined write of the trailer functions (group 0x03, code 0x07,
// direction 0x01), sent as a raw command: direction, relative addressing,
// sector, trailer block within the sector, key-type byte, key, 16 bytes.
bool ReaderCardLink::WriteTrailer(int sector, const Block &trailer, KeyType type, const Key &auth_key) {
    std::vector<unsigned char> frame{0x03, 0x07, 0x01, 0x00, static_cast<unsigned char>(sector),
                                     static_cast<unsigned char>(BlocksInSector(sector) - 1),
                                     static_cast<unsigned char>(type == KeyType::A ? 0x60 : 0x61)};
    frame.insert(frame.end(), auth_key.begin(), auth_key.end());
    frame.insert(frame.end(), trailer.begin(), trailer.end());
    ++counters_.authentications;
    if (Count(SendM1Command(frame.data(), static_cast<int>(frame.size()))) != 1) return false;
    ++counters_.blocks_written;
    return true;
}

bool ReaderCardLink::InitValue(int block, std::int32_t value) {
    if (value < 0 || IsTrailer(block)) return false;
    int amount = value;
    return Count(WalletInit(kRelative, SectorOfBlock(block), OffsetInSector(block), type_code_,
                            reinterpret_cast<unsigned char *>(&amount))) == 1;
}

std::optional<std::int32_t> ReaderCardLink::ReadValue(int block) {
    if (IsTrailer(block)) return std::nullopt;
    int amount = 0;
    if (Count(ReadWallet(kRelative, SectorOfBlock(block), OffsetInSector(block), type_code_,
                         reinterpret_cast<unsigned char *>(&amount))) != 1)
        return std::nullopt;
    return amount;
}

bool ReaderCardLink::ChangeValue(int block, bool increment, std::int32_t amount) {
    if (amount < 0 || IsTrailer(block)) return false;
    int value = amount;
    auto *bytes = reinterpret_cast<unsigned char *>(&value);
    const int sector = SectorOfBlock(block);
    const int offset = OffsetInSector(block);
    return Count(increment ? WalletAdd(kRelative, sector, offset, type_code_, bytes)
                           : WalletDec(kRelative, sector, offset, type_code_, bytes)) == 1;
}

std::optional<std::vector<std::uint8_t>> ReaderCardLink::ActivateCos() {
    if (Count(CosActivation()) != 1) return std::nullopt;
    return LastAnswerData();
}

std::optional<std::vector<std::uint8_t>> ReaderCardLink::SendApdu(std::span<const std::uint8_t> apdu) {
    if (apdu.empty() || apdu.size() > static_cast<std::size_t>(kMaxApdu)) return std::nullopt;
    std::vector<unsigned char> copy(apdu.begin(), apdu.end());
    if (Count(SendCosCommand(copy.data(), static_cast<int>(copy.size()))) != 1) return std::nullopt;
    return LastAnswerData();
}

bool ReaderCardLink::DeactivateCos() { return Count(CosDeactive()) == 1; }

std::optional<Block> ReaderCardLink::ReadPages(int first_page) {
    Block out{};
    if (first_page < 0 || first_page > 0xFF) return std::nullopt;
    if (Count(::ReadBlock(kAbsolute, 0, first_page, kUltraLightTypeCode, out.data())) != 1) return std::nullopt;
    ++counters_.blocks_read;
    return out;
}

// Sent as a raw block write (group 0x03, code 0x03, absolute addressing):
// WriteBlock refuses every block number a MIFARE Classic trailer would have,
// which are ordinary pages here. The card takes the first 4 of the 16 bytes.
bool ReaderCardLink::WritePage(int page, const Page &data) {
    if (page < 0 || page > 0xFF) return false;
    std::vector<unsigned char> frame{0x03, 0x03, 0x01, 0x00, static_cast<unsigned char>(page)};
    frame.insert(frame.end(), data.begin(), data.end());
    frame.resize(frame.size() + kBlockSize - data.size(), 0x00);
    if (Count(SendM1Command(frame.data(), static_cast<int>(frame.size()))) != 1) return false;
    ++counters_.blocks_written;
    return true;
}

}  // namespace zelkor::card
