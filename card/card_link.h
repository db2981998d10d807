// What the toolkit needs of a reader with a card in its field. Key search,
// dump and restore run on this interface; ReaderCardLink implements it on the
// reader library and tests may put a fake behind it. Blocks are absolute
// block numbers. Every call is one or a few exchanges and blocks the caller.
#pragma once

#include <array>
#include <cstdint>
#include <iterator>
#include <optional>
#include <span>
#include <vector>

#include "card/card_layout.h"
#include "card/ultralight_layout.h"

namespace zelkor::card {

struct CardIdentity {
    int type_code = 0;              // the library's card type code (10..16)
    std::optional<CardKind> kind;   // set for MIFARE Classic Mini, 1K and 4K
    std::vector<std::uint8_t> uid;  // first byte first
    std::optional<std::array<std::uint8_t, 2>> atqa;  // as the card sends it, first byte first
    std::optional<std::uint8_t> sak;
    std::vector<std::uint8_t> reader_serial;
};

// What a new selection of the card found, compared with the card Identify()
// named last.
enum class Selection {
    SameCard,    // the card the work started on
    OtherCard,   // another card answered (`uid` names it)
    NoCard,      // the reader answered, no card did
    ReaderGone,  // the reader did not answer at all: unplugged or off
};
inline constexpr Selection kAllSelections[] = {Selection::SameCard, Selection::OtherCard, Selection::NoCard,
                                              Selection::ReaderGone};
static_assert(std::size(kAllSelections) == static_cast<std::size_t>(Selection::ReaderGone) + 1);

struct Reselection {
    Selection outcome = Selection::NoCard;
    std::vector<std::uint8_t> uid;  // the card that answered, if any
    explicit operator bool() const { return outcome == Selection::SameCard; }
};

class CardLink {
public:
    virtual ~CardLink() = default;

    // Finds and selects the card and names it; nothing when no card answers.
    virtual std::optional<CardIdentity> Identify() = 0;
    // Selects the card again after it dropped out of its session (a failed
    // authentication or a refused command leaves a card idle) and says
    // whether it is still the card Identify() named. After a command the
    // reader did not answer (or left its answer unfinished) it sends nothing
    // and answers ReaderGone:
    // another wait would only delay the news by seconds.
    virtual Reselection Reselect() = 0;

    // Authenticates the sector with one of its keys. After a failure the card
    // is out of its session until Reselect().
    virtual bool Authenticate(int sector, KeyType type, const Key &key) = 0;
    // Need an authenticated sector; a refusal drops the card's session too.
    virtual std::optional<Block> ReadBlock(int block) = 0;
    // Data blocks only (not trailers).
    virtual bool WriteBlock(int block, const Block &data) = 0;
    // Writes a whole sector trailer, authenticating with `auth_key` of type
    // `type` in the same command.
    virtual bool WriteTrailer(int sector, const Block &trailer, KeyType type, const Key &auth_key) = 0;

    // Value blocks of the authenticated sector; amounts are not negative.
    virtual bool InitValue(int block, std::int32_t value) = 0;
    virtual std::optional<std::int32_t> ReadValue(int block) = 0;
    virtual bool ChangeValue(int block, bool increment, std::int32_t amount) = 0;

    // CPU cards: activation (answers the activation data), one APDU (answers
    // the card's response), deactivation.
    virtual std::optional<std::vector<std::uint8_t>> ActivateCos() = 0;
    virtual std::optional<std::vector<std::uint8_t>> SendApdu(std::span<const std::uint8_t> apdu) = 0;
    virtual bool DeactivateCos() = 0;

    // Cards of the UltraLight family: four pages from `first_page` on (a read
    // near the end wraps round to page 0), and one page written. A refusal
    // leaves the card out of its session until Reselect().
    virtual std::optional<Block> ReadPages(int first_page) { return (void)first_page, std::nullopt; }
    virtual bool WritePage(int page, const Page &data) { return (void)page, (void)data, false; }
};

}  // namespace zelkor::card
