// CardLink on the reader library's exported functions, exactly as a user's
// program calls them. The library prints its trace on standard output; a
// caller that needs standard output captures it before the first call.
#pragma once

#include <memory>
#include <optional>

#include "card/card_link.h"

namespace zelkor::card {

// An open reader session; closes it when destroyed. One at a time per process.
class ReaderSession {
public:
    // Opens port `port` (the library's numbering) at `baud` bit/s, 8N1.
    // Nothing when the port does not open or another ReaderSession is alive
    // (the library would close that one to open this).
    static std::optional<ReaderSession> Open(int port, int baud);
    ~ReaderSession();
    ReaderSession(ReaderSession &&other) noexcept;
    ReaderSession &operator=(ReaderSession &&other) noexcept;
    ReaderSession(const ReaderSession &) = delete;
    ReaderSession &operator=(const ReaderSession &) = delete;

    int port() const { return port_; }
    int baud() const { return baud_; }

private:
    ReaderSession(int port, int baud) : port_(port), baud_(baud) {}
    int port_ = 0;
    int baud_ = 0;
    bool open_ = false;
};

// What the link has sent: exchanges with the reader and their bytes on the
// line in both directions.
struct LinkCounters {
    long exchanges = 0;
    long authentications = 0;
    long reselects = 0;
    long blocks_read = 0;
    long blocks_written = 0;
    long wire_bytes = 0;
};

class ReaderCardLink : public CardLink {
public:
    // The session must stay open while the link is used.
    explicit ReaderCardLink(const ReaderSession &session);
    // Over a session the program opened with OpenReader itself (Parvex's
    // serial panel owns the port with the operator's line settings); it
    // must stay open while the link is used.
    struct SessionOpenedElsewhere {};
    explicit ReaderCardLink(SessionOpenedElsewhere) {}

    std::optional<CardIdentity> Identify() override;
    Reselection Reselect() override;
    bool Authenticate(int sector, KeyType type, const Key &key) override;
    std::optional<Block> ReadBlock(int block) override;
    bool WriteBlock(int block, const Block &data) override;
    bool WriteTrailer(int sector, const Block &trailer, KeyType type, const Key &auth_key) override;
    bool InitValue(int block, std::int32_t value) override;
    std::optional<std::int32_t> ReadValue(int block) override;
    bool ChangeValue(int block, bool increment, std::int32_t amount) override;
    std::optional<std::vector<std::uint8_t>> ActivateCos() override;
    std::optional<std::vector<std::uint8_t>> SendApdu(std::span<const std::uint8_t> apdu) override;
    bool DeactivateCos() override;
    std::optional<Block> ReadPages(int first_page) override;
    bool WritePage(int page, const Page &data) override;

    const LinkCounters &counters() const { return counters_; }
    void ResetCounters() { counters_ = {}; }

private:
    // Adds the last exchange's bytes to the counters; passes `result` on.
    int Count(int result);
    std::vector<std::uint8_t> LastAnswerData();
    // The UID of the card just selected: from the combined search's answer
    // (type byte, UID, SAK) when it holds one, otherwise asked for.
    std::vector<std::uint8_t> SelectedUid(bool after_combined_search);
    Reselection Compared(std::vector<std::uint8_t> uid) const;

    int type_code_ = 11;
    std::vector<std::uint8_t> identified_uid_;  // the card Identify() named
    bool answered_ = true;  // the last exchange had an answer of any kind
    LinkCounters counters_;
};

}  // namespace zelkor::card
