#include <thread>

#include <gtest/gtest.h>

#include "sim/reader_model.h"
#include "sim/sample_cards.h"

namespace {

using sim::Bytes;
namespace st = sim::status;

struct Answered {
    std::uint8_t status = 0xFF;
    Bytes data;
};

Answered Parse(const Bytes &frame) {
    Answered a;
    if (frame.size() < 8) return a;
    a.status = frame[6];
    a.data.assign(frame.begin() + 7, frame.end() - 1);
    return a;
}

Bytes Cat(Bytes a, const Bytes &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const Bytes kDemoKey(sim::kDemoKey.begin(), sim::kDemoKey.end());
const Bytes kDemoUid = {0x3A, 0x7C, 0x51, 0xE2};

class ReaderModelTest : public ::testing::Test {
protected:
    sim::Reaction Send(std::uint8_t group, std::uint8_t code, const Bytes &data = {}) {
        const Bytes frame = sim::EncodeCommand(group, code, data);
        sim::CommandDecoder decoder;
        decoder.Feed(frame.data(), frame.size());
        const auto command = decoder.Next();
        EXPECT_TRUE(command.has_value());
        return reader.Respond(*command);
    }
    // One answer frame, sent at once.
    Answered Ask(std::uint8_t group, std::uint8_t code, const Bytes &data = {}) {
        const sim::Reaction r = Send(group, code, data);
        EXPECT_EQ(r.pieces.size(), 1u);
        if (r.pieces.empty()) return {};
        EXPECT_EQ(r.pieces[0].delay_ms, 0);
        return Parse(r.pieces[0].bytes);
    }
    std::uint8_t Status(std::uint8_t group, std::uint8_t code, const Bytes &data = {}) {
        return Ask(group, code, data).status;
    }
    std::uint8_t AuthDemo(std::uint8_t sector, std::uint8_t key_type = 0x60) {
        return Status(0x03, 0x01, Cat({0x00, sector, 0x00, key_type}, kDemoKey));
    }
    // The composite search: request, anticollision and select in one command.
    std::uint8_t Reselect() { return Status(0x02, 0x04); }

    sim::ReaderModel reader;
    std::shared_ptr<sim::MifareClassic> s50 = sim::MakeDemoS50();
};

TEST_F(ReaderModelTest, EmptyFieldAnswersNoCard) {
    const struct {
        std::uint8_t group, code;
        Bytes data;
    } cases[] = {{0x02, 0x01, {0x26}}, {0x02, 0x01, {0x52}}, {0x02, 0x02, {0x93}}, {0x02, 0x03, {0x93}},
                 {0x02, 0x04, {}},     {0x02, 0x05, {}},     {0x01, 0x02, {}},     {0x03, 0x02, {0x01, 0x00, 0x04}},
                 {0x03, 0x01, Cat({0x01, 0x00, 0x04, 0x60}, kDemoKey)},           {0x07, 0x01, {0x52}},
                 {0x07, 0x03, {0x00, 0x84, 0x00, 0x00, 0x08}}};
    for (const auto &c : cases) {
        EXPECT_EQ(Status(c.group, c.code, c.data), st::kNoCard) << int(c.group) << "/" << int(c.code);
    }
}

TEST_F(ReaderModelTest, DetectionAnswerLayouts) {
    const struct {
        std::shared_ptr<sim::Card> card;
        Bytes request, anticollision, select, info, composite;
    } cases[] = {
        {s50, {0x04, 0x00}, {0x3A, 0x7C, 0x51, 0xE2, 0xF5}, {0x08}, {0x04, 0x3A, 0x7C, 0x51, 0xE2},
         {0x04, 0x3A, 0x7C, 0x51, 0xE2, 0x08}},
        {sim::MakeDemoS70(), {0x02, 0x00}, {0x9D, 0x42, 0x0B, 0x76, 0x9D ^ 0x42 ^ 0x0B ^ 0x76}, {0x18},
         {0x02, 0x9D, 0x42, 0x0B, 0x76}, {0x02, 0x9D, 0x42, 0x0B, 0x76, 0x18}},
        {sim::MakeDemoUltraLight(), {0x00, 0x00}, {0x88, 0x04, 0x6E, 0x21, 0x88 ^ 0x04 ^ 0x6E ^ 0x21}, {0x00},
         {0x00, 0x04, 0x6E, 0x21, 0x8A, 0x33, 0x5F, 0x80}, {0x00, 0x04, 0x6E, 0x21, 0x8A, 0x33, 0x5F, 0x80, 0x00}},
        {sim::MakeDemoCpuCard(), {0x08, 0x00}, {0x6B, 0x12, 0xC4, 0x08, 0x6B ^ 0x12 ^ 0xC4 ^ 0x08}, {0x20},
         {0x08, 0x6B, 0x12, 0xC4, 0x08}, {0x08, 0x6B, 0x12, 0xC4, 0x08, 0x20}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(int(c.card->type_byte()));
        reader.PutCard(c.card);
        EXPECT_EQ(Ask(0x02, 0x01, {0x26}).data, c.request);
        EXPECT_EQ(Ask(0x02, 0x02, {0x93}).data, c.anticollision);
        EXPECT_EQ(Ask(0x02, 0x03, {0x93}).data, c.select);
        EXPECT_EQ(c.card->state(), sim::IsoState::Active);
        EXPECT_EQ(Ask(0x01, 0x02).data, c.info);
        EXPECT_EQ(Ask(0x02, 0x04).data, c.composite);
        EXPECT_EQ(Ask(0x02, 0x01, {0x52}).data, c.request);  // a repeated search finds it again
    }
    EXPECT_EQ(Ask(0x02, 0x01, {0x26}).data, (Bytes{0x08, 0x00}));
    EXPECT_EQ(Status(0x02, 0x01, {0x27}), st::kBadParameter);
    EXPECT_EQ(Status(0x02, 0x03, {0x20}), st::kBadParameter);
}

TEST_F(ReaderModelTest, HaltedCardAnswersWakeUpOnly) {
    reader.PutCard(s50);
    EXPECT_EQ(Status(0x02, 0x05), st::kOk);
    EXPECT_EQ(s50->state(), sim::IsoState::Halt);
    EXPECT_EQ(Status(0x02, 0x01, {0x26}), st::kNoCard);
    EXPECT_EQ(Status(0x02, 0x04), st::kNoCard);
    EXPECT_EQ(AuthDemo(1), st::kNoCard);  // the implicit request is not answered either
    EXPECT_EQ(Status(0x02, 0x05), st::kNoCard);
    EXPECT_EQ(Ask(0x02, 0x01, {0x52}).data, (Bytes{0x04, 0x00}));
    EXPECT_EQ(AuthDemo(1), st::kOk);
}

TEST_F(ReaderModelTest, CardCommandsActivateANewcomersCard) {
    reader.PutCard(s50);
    EXPECT_EQ(Status(0x03, 0x02, {0x00, 0x01, 0x00}), st::kNotAuthenticated);
    // The refusal dropped the card out of its session: it needs a new selection.
    EXPECT_EQ(AuthDemo(1), st::kNoCard);
    ASSERT_EQ(Reselect(), st::kOk);
    ASSERT_EQ(AuthDemo(1), st::kOk);
    const Answered read = Ask(0x03, 0x02, {0x00, 0x01, 0x00});
    ASSERT_EQ(read.status, st::kOk);
    EXPECT_EQ(std::string(read.data.begin(), read.data.end()), "Zelkor demo card");
    // Authentication is gone after a new selection.
    EXPECT_EQ(Status(0x02, 0x03, {0x93}), st::kOk);
    EXPECT_EQ(Status(0x03, 0x02, {0x00, 0x01, 0x00}), st::kNotAuthenticated);
}

TEST_F(ReaderModelTest, ClassicCommandStatuses) {
    reader.PutCard(s50);
    const Bytes wrong(6, 0x00);
    EXPECT_EQ(Status(0x03, 0x01, Cat({0x00, 0x01, 0x00, 0x60}, wrong)), st::kAuthFailed);
    // A failed authentication leaves the card idle: every card command fails
    // until the card is selected again.
    EXPECT_EQ(AuthDemo(1), st::kNoCard);
    EXPECT_EQ(Status(0x03, 0x02, {0x00, 0x01, 0x00}), st::kNoCard);
    ASSERT_EQ(Reselect(), st::kOk);
    EXPECT_EQ(AuthDemo(1, 0x00), st::kAuthFailed);
    ASSERT_EQ(Reselect(), st::kOk);
    EXPECT_EQ(AuthDemo(1, 0x61), st::kOk);  // key B authenticates...
    EXPECT_EQ(Status(0x03, 0x02, {0x00, 0x01, 0x00}), st::kCardRefused);  // ...but opens nothing here
    ASSERT_EQ(Reselect(), st::kOk);
    EXPECT_EQ(Status(0x03, 0x01, Cat({0x01, 0x00, 64, 0x60}, kDemoKey)), st::kBadParameter);
    EXPECT_EQ(Status(0x03, 0x01, Cat({0x00, 16, 0x00, 0x60}, kDemoKey)), st::kBadParameter);
    EXPECT_EQ(Status(0x03, 0x01, Cat({0x00, 1, 4, 0x60}, kDemoKey)), st::kBadParameter);
    EXPECT_EQ(Status(0x03, 0x01, {0x00, 0x01}), st::kBadParameter);  // too short
    ASSERT_EQ(AuthDemo(1), st::kOk);
    EXPECT_EQ(Status(0x03, 0x02, {0x00, 0x02, 0x00}), st::kNotAuthenticated);  // another sector
    ASSERT_EQ(Reselect(), st::kOk);
    ASSERT_EQ(AuthDemo(1), st::kOk);
    Bytes write{0x00, 0x01, 0x02};
    for (int i = 0; i < 16; ++i) write.push_back(static_cast<std::uint8_t>(0xA0 + i));
    EXPECT_EQ(Status(0x03, 0x03, write), st::kOk);
    EXPECT_EQ(Ask(0x03, 0x02, {0x01, 0x00, 0x06}).data, Bytes(write.begin() + 3, write.end()));
    // Other cards do not take MIFARE Classic commands.
    reader.PutCard(sim::MakeDemoCpuCard());
    EXPECT_EQ(AuthDemo(1), st::kCardRefused);
}

TEST_F(ReaderModelTest, WalletCommands) {
    reader.PutCard(s50);
    ASSERT_EQ(AuthDemo(1), st::kOk);
    EXPECT_EQ(Ask(0x03, 0x05, {0x01, 0x00, 0x05}).data, (Bytes{0xE8, 0x03, 0x00, 0x00}));  // 1000
    EXPECT_EQ(Status(0x03, 0x04, {0x00, 0x01, 0x02, 0xE8, 0x03, 0x00, 0x00}), st::kOk);
    EXPECT_EQ(Status(0x03, 0x06, {0x01, 0x00, 0x01, 0x02, 0x64, 0x00, 0x00, 0x00}), st::kOk);
    EXPECT_EQ(Status(0x03, 0x06, {0x02, 0x00, 0x01, 0x02, 0x0A, 0x00, 0x00, 0x00}), st::kOk);
    EXPECT_EQ(Ask(0x03, 0x05, {0x00, 0x01, 0x02}).data, (Bytes{0x42, 0x04, 0x00, 0x00}));  // 1090
    EXPECT_EQ(s50->raw(6), sim::MifareClassic::ValueBlock(1090, 6));
    EXPECT_EQ(Status(0x03, 0x06, {0x03, 0x00, 0x01, 0x02, 0x01, 0x00, 0x00, 0x00}), st::kBadParameter);
    // Not a value block.
    ASSERT_EQ(AuthDemo(1), st::kOk);
    EXPECT_EQ(Status(0x03, 0x05, {0x00, 0x01, 0x00}), st::kBadCardData);
}

// The trailer read answers the 16 trailer bytes from answer byte 7 on, so
// answer bytes 13 to 16 are the access bytes.
TEST_F(ReaderModelTest, CombinedTrailerReadAndWrite) {
    reader.PutCard(s50);
    const sim::Reaction r = Send(0x03, 0x07, Cat({0x00, 0x00, 0x01, 0x03, 0x60}, kDemoKey));
    ASSERT_EQ(r.pieces.size(), 1u);
    const Bytes &frame = r.pieces[0].bytes;
    ASSERT_EQ(frame.size(), 24u);
    EXPECT_EQ(frame[6], st::kOk);
    EXPECT_EQ(Bytes(frame.begin() + 7, frame.begin() + 13), Bytes(6, 0x00));  // key A
    EXPECT_EQ(Bytes(frame.begin() + 13, frame.begin() + 17), (Bytes{0xFF, 0x07, 0x80, 0x69}));
    EXPECT_EQ(Bytes(frame.begin() + 17, frame.begin() + 23), kDemoKey);  // key B readable under 001

    // A new key A written with key A, access bytes and key B as read.
    const Bytes new_a{1, 2, 3, 4, 5, 6};
    Bytes write = Cat(Cat({0x01, 0x00, 0x01, 0x03, 0x60}, kDemoKey), new_a);
    write = Cat(Cat(write, {0xFF, 0x07, 0x80, 0x69}), kDemoKey);
    EXPECT_EQ(Status(0x03, 0x07, write), st::kOk);
    EXPECT_EQ(AuthDemo(1), st::kAuthFailed);
    ASSERT_EQ(Reselect(), st::kOk);
    EXPECT_EQ(Status(0x03, 0x01, Cat({0x00, 0x01, 0x00, 0x60}, new_a)), st::kOk);
    // No key may write: key-type byte 0x00.
    EXPECT_EQ(Status(0x03, 0x07, Cat(Cat({0x01, 0x00, 0x02, 0x03, 0x00}, Bytes(6, 0)), Bytes(16, 0))), st::kAuthFailed);
    // The combined commands search the card themselves: no selection needed.
    EXPECT_EQ(Ask(0x03, 0x07, Cat({0x00, 0x01, 0x00, 0x08, 0x61}, kDemoKey)).status, st::kCardRefused);
    EXPECT_EQ(Ask(0x03, 0x07, Cat({0x00, 0x01, 0x00, 0x08, 0x60}, kDemoKey)).data.size(), 16u);
    EXPECT_EQ(Status(0x03, 0x07, Cat({0x02, 0x01, 0x00, 0x08, 0x60}, kDemoKey)), st::kBadParameter);
}

TEST_F(ReaderModelTest, ReaderControls) {
    EXPECT_EQ(Status(0x01, 0x04), st::kOk);
    EXPECT_TRUE(reader.buzzer_on());
    EXPECT_EQ(Status(0x01, 0x05), st::kOk);
    EXPECT_FALSE(reader.buzzer_on());
    EXPECT_EQ(Status(0x01, 0x04, {0x00}), st::kOk);  // extra bytes, as a pass-through may send
    EXPECT_EQ(Status(0x01, 0x01), st::kOk);
    EXPECT_TRUE(reader.auto_search());
    EXPECT_EQ(Status(0x01, 0x03), st::kOk);
    EXPECT_FALSE(reader.auto_search());
    const auto serial = reader.serial_number();
    EXPECT_EQ(Ask(0x01, 0x0A).data, Bytes(serial.begin(), serial.end()));
    reader.SetRegister(512, 0x5C);
    EXPECT_EQ(Ask(0x01, 0x07, {0x05, 0x0C, 0x05}).data, (Bytes{0x5C}));
    EXPECT_EQ(Ask(0x01, 0x07, {0x00, 0x01, 0x02}).data, (Bytes{reader.Register(1)}));
    EXPECT_EQ(Status(0x01, 0x07, {0x00, 100, 0x00}), st::kBadParameter);
    EXPECT_EQ(Status(0x01, 0x07, {0x0B, 0x00, 0x00}), st::kBadParameter);  // 1100: no such register
    EXPECT_EQ(Status(0x01, 0x7F), st::kUnknownCommand);
    EXPECT_EQ(Status(0x09, 0x01), st::kUnknownCommand);
    EXPECT_EQ(Status(0x03, 0x7F), st::kUnknownCommand);

    Bytes bad = sim::EncodeCommand(0x01, 0x04);
    bad.back() ^= 0xFF;
    sim::CommandDecoder decoder;
    decoder.Feed(bad.data(), bad.size());
    const auto command = decoder.Next();
    ASSERT_TRUE(command.has_value());
    EXPECT_EQ(Parse(reader.Respond(*command).pieces.at(0).bytes).status, st::kBadParameter);
}

TEST_F(ReaderModelTest, AntennaOffResetsTheCard) {
    reader.PutCard(s50);
    ASSERT_EQ(AuthDemo(1), st::kOk);
    ASSERT_EQ(Status(0x02, 0x05), st::kOk);  // halted
    EXPECT_EQ(Status(0x01, 0x06, {0x00}), st::kOk);
    EXPECT_FALSE(reader.antenna_on());
    EXPECT_EQ(s50->state(), sim::IsoState::Idle);
    // The next card command switches the field on: the card answers a plain request again.
    EXPECT_EQ(Ask(0x02, 0x01, {0x26}).data, (Bytes{0x04, 0x00}));
    EXPECT_TRUE(reader.antenna_on());
    EXPECT_EQ(Status(0x03, 0x02, {0x00, 0x01, 0x00}), st::kNotAuthenticated);
    EXPECT_EQ(Status(0x01, 0x06, {0x07}), st::kBadParameter);
}

TEST_F(ReaderModelTest, LineSpeed) {
    const int expected[] = {2400, 4800, 9600, 19200, 38400, 57600, 115200};
    for (std::uint8_t b = 1; b <= 7; ++b) {
        const sim::Reaction r = Send(0xBD, 0x01, {b});
        ASSERT_EQ(r.pieces.size(), 1u);
        EXPECT_EQ(Parse(r.pieces[0].bytes).status, st::kOk);
        EXPECT_EQ(r.line_baud, expected[b - 1]);
        EXPECT_EQ(reader.baud(), expected[b - 1]);
    }
    for (const std::uint8_t b : std::initializer_list<std::uint8_t>{0x00, 0x08, 0xFF}) {
        const sim::Reaction r = Send(0xBD, 0x01, {b});
        EXPECT_EQ(Parse(r.pieces.at(0).bytes).status, st::kBadParameter);
        EXPECT_EQ(r.line_baud, 0);
    }
    EXPECT_EQ(reader.baud(), 115200);
}

TEST_F(ReaderModelTest, ManualSearchAnswersTwice) {
    const struct {
        std::shared_ptr<sim::Card> card;
        std::uint8_t second_status;
        Bytes second_data;
    } cases[] = {{s50, st::kOk, {0x04, 0x3A, 0x7C, 0x51, 0xE2}},
                 {sim::MakeDemoUltraLight(), st::kOk, {0x00, 0x04, 0x6E, 0x21, 0x8A}},
                 {nullptr, st::kNoCard, {}}};
    for (const auto &c : cases) {
        reader.PutCard(c.card);
        const sim::Reaction r = Send(0x01, 0x09);
        ASSERT_EQ(r.pieces.size(), 2u);
        EXPECT_EQ(r.pieces[0].delay_ms, 0);
        EXPECT_EQ(r.pieces[0].bytes, sim::EncodeAnswer(0x00));
        EXPECT_GE(r.pieces[1].delay_ms, 50);
        const Answered second = Parse(r.pieces[1].bytes);
        EXPECT_EQ(second.status, c.second_status);
        EXPECT_EQ(second.data, c.second_data);
    }
}

TEST_F(ReaderModelTest, UltraLightPages) {
    auto ul = sim::MakeDemoUltraLight();
    reader.PutCard(ul);
    const Answered read = Ask(0x03, 0x02, {0x01, 0x00, 0x04});
    ASSERT_EQ(read.status, st::kOk);
    EXPECT_EQ(Bytes(read.data.begin(), read.data.begin() + 4), (Bytes{0x55, 0x4C, 0x00, 0x01}));
    Bytes write{0x01, 0x00, 0x05};
    for (int i = 0; i < 16; ++i) write.push_back(static_cast<std::uint8_t>(i + 1));
    EXPECT_EQ(Status(0x03, 0x03, write), st::kOk);
    EXPECT_EQ(ul->page(5), (std::array<std::uint8_t, 4>{1, 2, 3, 4}));
    write[2] = 0x00;  // page 0: the UID
    EXPECT_EQ(Status(0x03, 0x03, write), st::kCardRefused);
    EXPECT_EQ(Status(0x03, 0x02, {0x01, 0x00, 16}), st::kBadParameter);
    EXPECT_EQ(Status(0x03, 0x01, Cat({0x01, 0x00, 0x04, 0x60}, kDemoKey)), st::kCardRefused);
}

TEST_F(ReaderModelTest, CosSession) {
    auto cpu = sim::MakeDemoCpuCard();
    reader.PutCard(cpu);
    EXPECT_EQ(Status(0x07, 0x02), st::kCosNotActive);
    EXPECT_EQ(Status(0x07, 0x03, {0x00, 0x84, 0x00, 0x00, 0x08}), st::kCosNotActive);
    EXPECT_EQ(Status(0x07, 0x04, {0x00, 0x00}), st::kCosNotActive);
    const Answered ats = Ask(0x07, 0x01, {0x52});
    EXPECT_EQ(ats.status, st::kOk);
    ASSERT_FALSE(ats.data.empty());
    EXPECT_EQ(ats.data[0], ats.data.size());  // TL counts itself
    EXPECT_EQ(Status(0x07, 0x01, {0x52}), st::kCosAlreadyActive);

    const struct {
        Bytes apdu;
        std::size_t data_size;
        Bytes sw;
    } apdus[] = {
        {{0x00, 0x84, 0x00, 0x00, 0x08}, 8, {0x90, 0x00}},
        {{0x00, 0x84, 0x00, 0x00, 0x04}, 4, {0x90, 0x00}},
        {{0x00, 0xA4, 0x00, 0x00, 0x02, 0x3F, 0x00}, 0, {0x90, 0x00}},
        {{0x00, 0xA4, 0x00, 0x00, 0x02, 0x00, 0x16}, 0, {0x90, 0x00}},
        {{0x00, 0xB0, 0x00, 0x00, 0x00}, 6, {0x90, 0x00}},
        {{0x00, 0xA4, 0x00, 0x00, 0x02, 0x12, 0x34}, 0, {0x6A, 0x82}},
        {{0x00, 0xA4, 0x00, 0x00, 0x03, 0x3F, 0x00}, 0, {0x67, 0x00}},
        {{0x00, 0x00, 0x00, 0x00}, 0, {0x6D, 0x00}},
        {{0x00, 0xCA, 0x00, 0x00, 0x00}, 0, {0x6D, 0x00}},
        {{0xA0, 0x84, 0x00, 0x00, 0x08}, 0, {0x6E, 0x00}},
        {{0x00, 0x84}, 0, {0x67, 0x00}},
    };
    for (const auto &a : apdus) {
        const Answered r = Ask(0x07, 0x03, a.apdu);
        ASSERT_EQ(r.status, st::kOk);
        ASSERT_EQ(r.data.size(), a.data_size + 2) << testing::PrintToString(a.apdu);
        EXPECT_EQ(Bytes(r.data.end() - 2, r.data.end()), a.sw) << testing::PrintToString(a.apdu);
    }
    EXPECT_NE(Ask(0x07, 0x03, {0x00, 0x84, 0x00, 0x00, 0x08}).data, Ask(0x07, 0x03, {0x00, 0x84, 0x00, 0x00, 0x08}).data);

    const Bytes key3 = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
    const struct {
        Bytes data;
        std::uint8_t status;
    } auths[] = {
        {Cat({0x08, 0x00}, Bytes(8, 0xFF)), st::kOk},
        {Cat({0x10, 0x03}, key3), st::kOk},
        {Cat({0x10, 0x00}, key3), st::kAuthFailed},
        {Cat({0x08, 0x03}, Bytes(8, 0xFF)), st::kAuthFailed},
        {Cat({0x08, 0x00}, Bytes(8, 0xFE)), st::kAuthFailed},
        {{0x00, 0x00}, st::kAuthFailed},
        {Cat({0x09, 0x00}, Bytes(8, 0xFF)), st::kBadParameter},  // length says more than comes
        {Cat({0x11, 0x00}, Bytes(17, 0xFF)), st::kBadParameter},
    };
    for (const auto &a : auths) EXPECT_EQ(Status(0x07, 0x04, a.data), a.status) << testing::PrintToString(a.data);

    EXPECT_EQ(Status(0x07, 0x02), st::kOk);
    EXPECT_EQ(Status(0x07, 0x03, {0x00, 0x84, 0x00, 0x00, 0x08}), st::kCosNotActive);
    EXPECT_EQ(Status(0x07, 0x01, {0x26}), st::kNoCard);  // deselected: HALT, deaf to a plain request
    EXPECT_EQ(Status(0x07, 0x01, {0x52}), st::kOk);
    EXPECT_EQ(Status(0x07, 0x01, {0x00}), st::kBadParameter);

    reader.PutCard(s50);
    EXPECT_EQ(Status(0x07, 0x01, {0x52}), st::kCardRefused);
    EXPECT_EQ(Status(0x07, 0x03, {0x00, 0x84, 0x00, 0x00, 0x08}), st::kCosNotActive);
}

TEST_F(ReaderModelTest, RemovingTheCardEndsItsSessions) {
    auto cpu = sim::MakeDemoCpuCard();
    reader.PutCard(cpu);
    ASSERT_EQ(Status(0x07, 0x01, {0x52}), st::kOk);
    reader.RemoveCard();
    EXPECT_FALSE(cpu->cos_active());
    EXPECT_EQ(Status(0x07, 0x02), st::kNoCard);
    reader.PutCard(cpu);
    EXPECT_EQ(Status(0x07, 0x02), st::kCosNotActive);
}

TEST_F(ReaderModelTest, DescribesReaderAndCard) {
    EXPECT_NE(reader.Describe().find("; no card"), std::string::npos);
    reader.PutCard(s50);
    ASSERT_EQ(AuthDemo(2), st::kOk);
    ASSERT_EQ(Status(0x01, 0x04), st::kOk);
    const std::string text = reader.Describe();
    EXPECT_NE(text.find("buzzer on"), std::string::npos) << text;
    EXPECT_NE(text.find("UID 3A 7C 51 E2, ACTIVE, sector 2 authenticated with key A"), std::string::npos) << text;
    ASSERT_EQ(Status(0x02, 0x05), st::kOk);
    EXPECT_NE(reader.Describe().find(", HALT"), std::string::npos);
}

// Cards change from another thread while commands are answered.
TEST_F(ReaderModelTest, CardsChangeWhileAnswering) {
    std::thread changer([&] {
        for (int i = 0; i < 200; ++i) {
            if (i % 3 == 0) {
                reader.RemoveCard();
            } else {
                reader.PutCard(i % 2 ? std::shared_ptr<sim::Card>(s50) : sim::MakeDemoCpuCard());
            }
        }
    });
    for (int i = 0; i < 200; ++i) {
        const std::uint8_t s = AuthDemo(1);
        EXPECT_TRUE(s == st::kOk || s == st::kNoCard || s == st::kCardRefused) << int(s);
    }
    changer.join();
}

}  // namespace

// The reader's time on the card that a paced line waits for before each
// answer: the sum of the card operations a command makes the reader do.
TEST_F(ReaderModelTest, CardTimePerCommand) {
    using RM = sim::ReaderModel;
    reader.PutCard(s50);
    const Bytes write = Cat({0x00, 0x01, 0x02}, Bytes(16, 0x00));
    const struct {
        const char *what;
        std::uint8_t group, code;
        Bytes data;
        int card_us;
    } cases[] = {
        {"authentication of a newcomer's card", 0x03, 0x01, Cat({0x00, 0x01, 0x00, 0x60}, kDemoKey),
         RM::kRequestUs + RM::kAnticollisionUs + RM::kSelectUs + RM::kAuthenticationUs},
        {"block read", 0x03, 0x02, {0x00, 0x01, 0x00}, RM::kReadUs},
        {"block write", 0x03, 0x03, write, RM::kWriteUs},
        {"value change", 0x03, 0x06, {0x01, 0x00, 0x01, 0x01, 0x01, 0x00, 0x00, 0x00}, RM::kValueChangeUs},
        {"combined read", 0x03, 0x07, Cat({0x00, 0x00, 0x01, 0x00, 0x60}, kDemoKey), RM::kAuthenticationUs + RM::kReadUs},
        {"failed authentication", 0x03, 0x01, Cat({0x00, 0x01, 0x00, 0x60}, Bytes(6, 0x00)), RM::kAuthenticationUs},
        {"card out of its session", 0x03, 0x02, {0x00, 0x01, 0x00}, 0},
        {"composite search", 0x02, 0x04, {}, RM::kRequestUs + RM::kAnticollisionUs + RM::kSelectUs},
        {"reader serial number", 0x01, 0x0A, {}, 0},
    };
    reader.ResetCardTime();
    long long total = 0;
    for (const auto &c : cases) {
        const sim::Reaction r = Send(c.group, c.code, c.data);
        EXPECT_EQ(r.card_time_us, c.card_us) << c.what;
        total += c.card_us;
    }
    EXPECT_EQ(reader.card_time_us(), total);
}
