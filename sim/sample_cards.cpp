#include "sim/sample_cards.h"

#include <cstring>

namespace sim {

namespace {

void AddSampleData(MifareClassic &card) {
    const char text[] = "Zelkor demo card";
    std::memcpy(card.raw(4).data(), text, 16);
    card.raw(5) = MifareClassic::ValueBlock(1000, 5);
    card.raw(8) = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10};
}

}  // namespace

std::shared_ptr<MifareClassic> MakeDemoS50(const Key &key) {
    auto card = std::make_shared<MifareClassic>(MifareClassic::Model::S50, std::array<std::uint8_t, 4>{0x3A, 0x7C, 0x51, 0xE2},
                                                key, key, kTransportAccess);
    AddSampleData(*card);
    return card;
}

std::shared_ptr<MifareClassic> MakeDemoS70(const Key &key) {
    auto card = std::make_shared<MifareClassic>(MifareClassic::Model::S70, std::array<std::uint8_t, 4>{0x9D, 0x42, 0x0B, 0x76},
                                                key, key, kTransportAccess);
    AddSampleData(*card);
    card->raw(129) = MifareClassic::ValueBlock(250, 129);
    return card;
}

std::shared_ptr<MifareClassic> MakeDemoMini(const Key &key) {
    auto card = std::make_shared<MifareClassic>(MifareClassic::Model::Mini, std::array<std::uint8_t, 4>{0x5B, 0x20, 0x8E, 0x14},
                                                key, key, kTransportAccess);
    AddSampleData(*card);
    return card;
}

std::shared_ptr<MifareClassic> MakeBlankS50() {
    return std::make_shared<MifareClassic>(MifareClassic::Model::S50, std::array<std::uint8_t, 4>{0xC1, 0x05, 0x2E, 0x9B},
                                           kFactoryKey, kFactoryKey, kTransportAccess);
}

std::shared_ptr<UltraLight> MakeDemoUltraLight() {
    auto card = std::make_shared<UltraLight>(std::array<std::uint8_t, 7>{0x04, 0x6E, 0x21, 0x8A, 0x33, 0x5F, 0x80});
    const std::uint8_t data[4] = {0x55, 0x4C, 0x00, 0x01};
    card->WritePage(4, data);
    return card;
}

std::shared_ptr<UltraLight> MakeDemoUltraLight(UltraLight::Model model) {
    const auto serial = static_cast<std::uint8_t>(0x10 + static_cast<int>(model));
    auto card = std::make_shared<UltraLight>(std::array<std::uint8_t, 7>{0x04, serial, 0x5C, 0x3B, 0x72, 0x19, 0x81}, model);
    const bool ntag = model == UltraLight::Model::Ntag213 || model == UltraLight::Model::Ntag215 ||
                      model == UltraLight::Model::Ntag216;
    // NDEF TLV with a text record "Zelkor", or the plain text on the others.
    const std::uint8_t ndef[16] = {0x03, 0x0D, 0xD1, 0x01, 0x09, 0x54, 0x02, 0x65, 0x6E, 'Z', 'e', 'l', 'k', 'o', 'r', 0xFE};
    const std::uint8_t text[8] = {'Z', 'e', 'l', 'k', 'o', 'r', 0x00, 0x00};
    for (int page = 0; page < (ntag ? 4 : 2); ++page) card->WritePage(4 + page, (ntag ? ndef : text) + 4 * page);
    const int last_user = model == UltraLight::Model::UltraLight || model == UltraLight::Model::Ev1Small
                              ? 15 : card->page_count() - 6;
    const std::uint8_t pattern[4] = {0xA5, 0x5A, serial, 0x01};
    card->WritePage(last_user, pattern);
    return card;
}

std::shared_ptr<UltraLight> MakeProtectedNtag() {
    auto card = MakeDemoUltraLight(UltraLight::Model::Ntag213);
    card->ProtectFrom(16);
    return card;
}

std::shared_ptr<CpuCard> MakeDemoCpuCard() {
    return std::make_shared<CpuCard>(std::array<std::uint8_t, 4>{0x6B, 0x12, 0xC4, 0x08});
}

}  // namespace sim
