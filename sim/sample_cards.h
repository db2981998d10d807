// Ready-made cards for the standalone simulator and for tests.
#pragma once

#include <memory>

#include "sim/cpu_card.h"
#include "sim/mifare_classic.h"
#include "sim/ultralight.h"

namespace sim {

// The key the program's pages show by default.
inline constexpr Key kDemoKey = {0x5A, 0x3C, 0x96, 0xE1, 0x0F, 0x7B};
inline constexpr Key kFactoryKey = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
// Transport access bytes: data blocks 000, trailer 001, user byte 0x69.
inline constexpr std::array<std::uint8_t, 4> kTransportAccess = {0xFF, 0x07, 0x80, 0x69};

// S50 with key A = key B = `key` in every sector, transport access bytes and
// some sample data: a text in block 4, a wallet of 1000 in block 5.
std::shared_ptr<MifareClassic> MakeDemoS50(const Key &key = kDemoKey);
std::shared_ptr<MifareClassic> MakeDemoS70(const Key &key = kDemoKey);
// A Mini (5 sectors, 20 blocks) with the same keys and sample data as the S50.
std::shared_ptr<MifareClassic> MakeDemoMini(const Key &key = kDemoKey);
// S50 as it leaves the factory: key A = key B = FF FF FF FF FF FF, transport
// access bytes, nothing written; a card to copy a dump onto.
std::shared_ptr<MifareClassic> MakeBlankS50();
std::shared_ptr<UltraLight> MakeDemoUltraLight();
// A card of the UltraLight family with its own UID, "Zelkor" text in its
// first user pages (an NDEF text record on NTAG cards) and a pattern in its
// last user page.
std::shared_ptr<UltraLight> MakeDemoUltraLight(UltraLight::Model model);
// An NTAG213 whose pages from 16 on are behind its password, reads included.
std::shared_ptr<UltraLight> MakeProtectedNtag();
std::shared_ptr<CpuCard> MakeDemoCpuCard();

}  // namespace sim
