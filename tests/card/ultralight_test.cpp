// The UltraLight family in the toolkit: page roles and lock bits, the dump
// files (hand-written samples read, written in every format and read again,
// malformed ones refused where they fail), and against the simulated reader
// the kind found by reading, the dump, and the restore of user pages.
#include <gtest/gtest.h>

#include <memory>
#include <stop_token>

#include "card/dump_formats.h"
#include "card/hex.h"
#include "card/reader_card_link.h"
#include "card/ultralight_card.h"
#include "card/ultralight_formats.h"
#include "tests/support/event_after_writes.h"
#include "tests/support/reader_fixture.h"
#include "sim/reader_model.h"
#include "sim/sample_cards.h"
#include "zelkor.h"

namespace zc = zelkor::card;
using zc::PageRole;
using zc::UltraLightKind;

namespace {

const std::string kSamples = ZELKOR_TEST_SAMPLES;

TEST(UltraLightLayout, EveryKindsPagesAndRoles) {
    const struct {
        UltraLightKind kind;
        int pages, last_user;
        PageRole page3, after_user, last;
    } cases[] = {
        {UltraLightKind::UltraLight, 16, 15, PageRole::Otp, PageRole::Uid /*none*/, PageRole::User},
        {UltraLightKind::Ev1Small, 20, 15, PageRole::Otp, PageRole::Configuration, PageRole::PasswordAck},
        {UltraLightKind::Ev1Large, 41, 35, PageRole::Otp, PageRole::DynamicLock, PageRole::PasswordAck},
        {UltraLightKind::Ntag213, 45, 39, PageRole::CapabilityContainer, PageRole::DynamicLock, PageRole::PasswordAck},
        {UltraLightKind::Ntag215, 135, 129, PageRole::CapabilityContainer, PageRole::DynamicLock, PageRole::PasswordAck},
        {UltraLightKind::Ntag216, 231, 225, PageRole::CapabilityContainer, PageRole::DynamicLock, PageRole::PasswordAck},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(zc::UltraLightKindName(c.kind)));
        EXPECT_EQ(zc::PageCount(c.kind), c.pages);
        EXPECT_EQ(zc::UltraLightKindOfPageCount(c.pages), c.kind);
        EXPECT_EQ(zc::LastUserPage(c.kind), c.last_user);
        EXPECT_EQ(zc::RoleOfPage(c.kind, 1), PageRole::Uid);
        EXPECT_EQ(zc::RoleOfPage(c.kind, 2), PageRole::UidCheckAndLock);
        EXPECT_EQ(zc::RoleOfPage(c.kind, 3), c.page3);
        EXPECT_EQ(zc::RoleOfPage(c.kind, 4), PageRole::User);
        EXPECT_EQ(zc::RoleOfPage(c.kind, c.pages - 1), c.last);
        if (c.pages > 16) {
            EXPECT_EQ(zc::RoleOfPage(c.kind, c.last_user + 1), c.after_user);
        }
    }
    EXPECT_FALSE(zc::UltraLightKindOfPageCount(42).has_value());
    EXPECT_EQ(zc::NtagOfCapabilityContainer({0xE1, 0x10, 0x3E, 0x00}), UltraLightKind::Ntag215);
    EXPECT_FALSE(zc::NtagOfCapabilityContainer({0x00, 0x00, 0x3E, 0x00}).has_value());
}

TEST(UltraLightLayout, LockBitsOfStaticAndDynamicLockBytes) {
    const zc::Page page2{0x00, 0x48, 0x18, 0x80};  // OTP and page 4 locked; page 15
    const zc::Page dynamic{0x02, 0x00, 0x00, 0x00};  // second bit
    const struct {
        UltraLightKind kind;
        int page;
        bool locked;
    } cases[] = {
        {UltraLightKind::UltraLight, 1, true},   {UltraLightKind::UltraLight, 3, true},
        {UltraLightKind::UltraLight, 4, true},   {UltraLightKind::UltraLight, 5, false},
        {UltraLightKind::UltraLight, 15, true},  {UltraLightKind::Ntag213, 17, false},
        {UltraLightKind::Ntag213, 18, true},     {UltraLightKind::Ntag213, 19, true},
        {UltraLightKind::Ntag213, 20, false},    {UltraLightKind::Ntag215, 31, false},
        {UltraLightKind::Ntag215, 32, true},     {UltraLightKind::Ntag215, 47, true},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(zc::PageLocked(c.kind, page2, dynamic, c.page), c.locked)
            << zc::UltraLightKindName(c.kind) << " page " << c.page;
    }
}

zc::UltraLightImage Load(const std::string &name) {
    const auto image = zc::LoadUltraLightDumpIfAny(kSamples + "/" + name);
    if (!image) throw std::runtime_error(name + " is not an UltraLight dump");
    return *image;
}

TEST(UltraLightFiles, SamplesReadWithTheirFacts) {
    const auto ntag = Load("ntag213-v4.nfc");
    EXPECT_EQ(ntag.kind, UltraLightKind::Ntag213);
    EXPECT_EQ(zc::ToHex(ntag.uid), "04A1B2C3D4E5F6");
    EXPECT_EQ(ntag.atqa, (std::array<std::uint8_t, 2>{0x44, 0x00}));  // Version 4 writes 00 44
    EXPECT_EQ(ntag.KnownPageCount(), 45);
    EXPECT_FALSE(ntag.partial);

    const auto ul = Load("ultralight-v2.nfc");
    EXPECT_EQ(ul.kind, UltraLightKind::UltraLight);
    EXPECT_EQ(ul.atqa, (std::array<std::uint8_t, 2>{0x44, 0x00}));  // Version 2 writes the card's order
    EXPECT_EQ(ul.KnownPageCount(), 12);  // "Pages read: 12"
    EXPECT_TRUE(ul.partial);

    const auto ev1 = Load("ev1-41.json");
    EXPECT_EQ(ev1.kind, UltraLightKind::Ev1Large);
    EXPECT_EQ(zc::ToHex(ev1.uid), "049C2E7105BA80");
    EXPECT_EQ(ev1.pages[35], (zc::Page{35, 35, 35, 35}));

    // A Classic dump is not taken for one.
    EXPECT_FALSE(zc::IsUltraLightDump(std::string(1024, '\0'), zc::DumpFormat::Bin));
}

TEST(UltraLightFiles, EverySampleRoundTripsThroughEveryFormatThatHoldsIt) {
    for (const char *name : {"ntag213-v4.nfc", "ultralight-v2.nfc", "ev1-41.json"}) {
        const auto original = Load(name);
        for (const auto format : {zc::DumpFormat::Flipper, zc::DumpFormat::Json, zc::DumpFormat::Bin}) {
            SCOPED_TRACE(std::string(name) + " as " + std::string(zc::FormatName(format)));
            std::vector<zc::UltraLightFileNote> notes;
            const std::string bytes = zc::WriteUltraLightDump(original, format, &notes);
            ASSERT_TRUE(zc::IsUltraLightDump(bytes, format));
            const auto again = zc::ParseUltraLightDump(bytes, format, "again");
            const bool holds_unknown = format != zc::DumpFormat::Bin;
            const auto diff = zc::DiffUltraLight(original, again);
            EXPECT_EQ(diff.equal(), holds_unknown || !original.partial);
            const bool quiet = format == zc::DumpFormat::Bin       ? !original.partial
                               : format == zc::DumpFormat::Flipper ? original.atqa.has_value()
                                                                   : true;
            EXPECT_EQ(notes.empty(), quiet);
        }
    }
    EXPECT_THROW(zc::SaveUltraLightDump("/tmp/never.mct", Load("ev1-41.json"), nullptr), zc::FileError);
}

TEST(UltraLightFiles, MalformedFilesNameTheirLineOrPath) {
    const std::string flipper_head = "Filetype: Flipper NFC device\nVersion: 4\nDevice type: NTAG/Ultralight\n";
    const struct {
        const char *what;
        zc::DumpFormat format;
        std::string text;
        int line;
        const char *path;
    } cases[] = {
        {"pages total fitting no card", zc::DumpFormat::Flipper,
         flipper_head + "NTAG/Ultralight type: NTAG213\nPages total: 44\n", 5, ""},
        {"pages total of another kind", zc::DumpFormat::Flipper,
         flipper_head + "NTAG/Ultralight type: NTAG213\nPages total: 135\n", 5, ""},
        {"page past the end", zc::DumpFormat::Flipper,
         flipper_head + "NTAG/Ultralight type: Mifare Ultralight\nPage 15: 00 00 00 00\nPage 16: 00 00 00 00\n", 6, ""},
        {"bad hex digit", zc::DumpFormat::Flipper,
         flipper_head + "NTAG/Ultralight type: Mifare Ultralight\nPage 4: 0G 00 00 00\n", 5, ""},
        {"truncated page", zc::DumpFormat::Flipper,
         flipper_head + "NTAG/Ultralight type: Mifare Ultralight\nPage 4: 00 00 00\n", 5, ""},
        {"unknown type", zc::DumpFormat::Flipper, flipper_head + "NTAG/Ultralight type: NTAG424\n", 4, ""},
        {"json page count", zc::DumpFormat::Json, R"({"FileType": "mfu", "blocks": {"0": "00000000", "16": "00000000"}})",
         0, "/blocks"},
        {"json page beyond the kind", zc::DumpFormat::Json,
         R"({"FileType": "mfu", "Kind": "UltraLight", "blocks": {"20": "00000000"}})", 0, "/blocks/20"},
        {"json bad page", zc::DumpFormat::Json, R"({"FileType": "mfu", "blocks": {"0": "0000000"}})", 0, "/blocks/0"},
        {"json unknown kind", zc::DumpFormat::Json, R"({"FileType": "mfu", "Kind": "NTAG203", "blocks": {}})", 0, "/Kind"},
        {"raw size", zc::DumpFormat::Bin, std::string(68, '\0'), 0, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(zc::IsUltraLightDump(c.text, c.format));
        try {
            zc::ParseUltraLightDump(c.text, c.format, "bad.file");
            ADD_FAILURE() << "accepted";
        } catch (const zc::FileError &error) {
            EXPECT_EQ(error.file(), "bad.file");
            EXPECT_EQ(error.line(), c.line) << error.what();
            EXPECT_EQ(error.json_path(), c.path) << error.what();
        }
    }
}

// ---- against the simulated reader -----------------------------------------

class UltraLightCardTest : public testing_support::SimulatedReaderTest {
protected:
    void SetUp() override {
        SimulatedReaderTest::SetUp();
        CloseReader();  // the toolkit opens its own session
        sim_.SetModel(model_);
        session_ = zc::ReaderSession::Open(kPort, 9600);
        ASSERT_TRUE(session_.has_value());
        link_ = std::make_unique<zc::ReaderCardLink>(*session_);
    }
    void TearDown() override {
        link_.reset();
        session_.reset();
        SimulatedReaderTest::TearDown();
    }

    zc::UltraLightRead Read(const std::shared_ptr<sim::UltraLight> &card) {
        model_->PutCard(card);
        const auto identity = link_->Identify();
        EXPECT_TRUE(identity.has_value());
        const auto read = zc::ReadUltraLight(*link_, identity.value_or(zc::CardIdentity{}), nullptr, {});
        EXPECT_TRUE(read.has_value());
        return read.value_or(zc::UltraLightRead{});
    }
    zc::Page Memory(const sim::UltraLight &card, int page) const {
        zc::Page out{};
        model_->Inspect([&] { out = card.page(page); });
        return out;
    }

    std::shared_ptr<sim::ReaderModel> model_ = std::make_shared<sim::ReaderModel>();
    std::optional<zc::ReaderSession> session_;
    std::unique_ptr<zc::ReaderCardLink> link_;
};

TEST_F(UltraLightCardTest, EachKindIsFoundByReadingAndDumpedWhole) {
    using Model = sim::UltraLight::Model;
    const std::pair<Model, UltraLightKind> kinds[] = {
        {Model::UltraLight, UltraLightKind::UltraLight}, {Model::Ev1Small, UltraLightKind::Ev1Small},
        {Model::Ev1Large, UltraLightKind::Ev1Large},     {Model::Ntag213, UltraLightKind::Ntag213},
        {Model::Ntag215, UltraLightKind::Ntag215},       {Model::Ntag216, UltraLightKind::Ntag216}};
    for (const auto &[model, kind] : kinds) {
        SCOPED_TRACE(std::string(zc::UltraLightKindName(kind)));
        const auto card = sim::MakeDemoUltraLight(model);
        const zc::UltraLightRead read = Read(card);
        EXPECT_EQ(read.image.kind, kind);
        EXPECT_TRUE(read.kind_certain);
        EXPECT_EQ(read.readable_pages, zc::PageCount(kind));
        EXPECT_FALSE(read.image.partial);
        EXPECT_EQ(read.image.uid, card->uid());  // all 7 bytes, not the reader's 6
        for (int page = 0; page <= zc::LastUserPage(kind); ++page) {
            ASSERT_EQ(read.image.pages[static_cast<std::size_t>(page)], Memory(*card, page)) << "page " << page;
        }
    }
}

TEST_F(UltraLightCardTest, PasswordProtectedPagesAreUnreadableAndNeverWritten) {
    const zc::UltraLightRead read = Read(sim::MakeProtectedNtag());
    EXPECT_EQ(read.image.kind, UltraLightKind::Ntag213);  // by its capability container
    EXPECT_EQ(read.readable_pages, 16);
    EXPECT_TRUE(read.refused_pages);
    EXPECT_TRUE(read.image.partial);
    EXPECT_FALSE(read.image.PageKnown(16));

    zc::UltraLightImage file = read.image;
    for (int page = 4; page <= zc::LastUserPage(file.kind); ++page) file.SetPage(page, {1, 2, 3, 4});
    const auto plan = zc::PlanUltraLightRestore(file, read.image, false);
    EXPECT_TRUE(plan.HasFatal());
    EXPECT_EQ(plan.steps[16].reason, zc::UltraLightStepReason::UnreadableOnCard);
    EXPECT_TRUE(zc::RestoreUltraLight(*link_, plan, nullptr, {}).refused);
}

TEST_F(UltraLightCardTest, RestoreWritesUserPagesOnlyAndReadsEachBack) {
    using Model = sim::UltraLight::Model;
    const auto source = sim::MakeDemoUltraLight(Model::Ntag213);
    zc::UltraLightImage file = Read(source).image;
    file.SetPage(20, {0xDE, 0xAD, 0xBE, 0xEF});
    file.SetPage(3, {0xFF, 0xFF, 0xFF, 0xFF});   // capability container
    file.SetPage(41, {0x04, 0x00, 0x00, 0x10});  // CFG0: AUTH0 = 16
    auto target = std::make_shared<sim::UltraLight>(std::array<std::uint8_t, 7>{0x04, 1, 2, 3, 4, 5, 6}, Model::Ntag213);
    const zc::Page cc = Memory(*target, 3);
    const zc::UltraLightImage now = Read(target).image;

    const auto refused = zc::PlanUltraLightRestore(file, now, false);
    ASSERT_TRUE(refused.HasFatal());
    EXPECT_EQ(refused.steps[0].reason, zc::UltraLightStepReason::UidDiffers);
    const auto plan = zc::PlanUltraLightRestore(file, now, true);
    ASSERT_FALSE(plan.HasFatal());
    EXPECT_EQ(plan.WriteCount(), 36);  // pages 4-39
    const auto report = zc::RestoreUltraLight(*link_, plan, nullptr, {});
    EXPECT_TRUE(report.ok());
    EXPECT_EQ(report.verified, 36);
    for (int page = 4; page <= 39; ++page) EXPECT_EQ(Memory(*target, page), file.pages[static_cast<std::size_t>(page)]);
    EXPECT_EQ(Memory(*target, 3), cc);
    EXPECT_EQ(Memory(*target, 41)[3], 0xFF);
    EXPECT_EQ(Memory(*target, 0)[1], 1);

    // A page the card has locked since holds other bytes: fatal before anything is written.
    const std::uint8_t lock_16_17[4] = {0x01, 0, 0, 0};
    model_->Inspect([&] { target->WritePage(40, lock_16_17); });
    file.SetPage(16, {7, 7, 7, 7});
    const auto locked = zc::PlanUltraLightRestore(file, Read(target).image, true);
    EXPECT_TRUE(locked.HasFatal());
    EXPECT_EQ(locked.steps[1 + 16].reason, zc::UltraLightStepReason::LockedOnCard);
    EXPECT_EQ(locked.steps[1 + 17].reason, zc::UltraLightStepReason::LockedSame);
}

TEST_F(UltraLightCardTest, RestoreStopsWhenAnotherCardAnswersTheNewSelection) {
    using Model = sim::UltraLight::Model;
    const auto source = sim::MakeDemoUltraLight(Model::Ntag213);
    zc::UltraLightImage file = Read(source).image;
    for (int page = 4; page <= 39; ++page) file.SetPage(page, {0x5A, 0x5A, 0x5A, page == 4 ? std::uint8_t{0} : std::uint8_t{1}});
    const auto plan = zc::PlanUltraLightRestore(file, Read(source).image, false);
    ASSERT_FALSE(plan.HasFatal());

    // Another card of the family is put in right after the third page written.
    auto other = std::make_shared<sim::UltraLight>(std::array<std::uint8_t, 7>{0x04, 9, 9, 9, 9, 9, 9}, Model::Ntag213);
    sim_.SetModel(std::make_shared<testing_support::EventAfterWrites>(model_, 3, [this, other] { model_->PutCard(other); }));
    const auto report = zc::RestoreUltraLight(*link_, plan, nullptr, {});
    EXPECT_FALSE(report.ok());
    ASSERT_TRUE(report.lost.has_value());
    EXPECT_EQ(report.lost->outcome, zc::Selection::OtherCard);
    EXPECT_EQ(report.written, 3);
    for (int page = 4; page <= 39; ++page) EXPECT_NE(Memory(*other, page), file.pages[static_cast<std::size_t>(page)]);
}

}  // namespace
