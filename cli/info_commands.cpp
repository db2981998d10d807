// zelkor info, zelkor apdu: what is in the field, and a CPU card's answers.
#include <nlohmann/json.hpp>

#include "card/hex.h"
#include "cli/info_text.h"
#include "cli/commands.h"
#include "cli/reader_access.h"
#include "cli/ultralight_commands.h"
#include "zelkor.h"

namespace zelkor::cli {
namespace {

std::string CardTypeName(int type_code, Language language) {
    switch (type_code) {
        case CardUltraLight: return "UltraLight";
        case CardS50: return "MIFARE Classic 1K (S50)";
        case CardS70: return "MIFARE Classic 4K (S70)";
        case CardFM1208: return "CPU card (FM1208)";
        case CardPlus: return "MIFARE PLUS";
        case CardD41: return "D41";
        default: return Say(language, "unknown card", "未知卡");
    }
}

// The reader reports a Mini as an S50; its select answer tells them apart.
std::string CardName(const card::CardIdentity &identity, Language language) {
    return identity.kind == card::CardKind::Mini ? "MIFARE Mini" : CardTypeName(identity.type_code, language);
}

std::string OptionalHex(const Program &program, const std::optional<std::vector<std::uint8_t>> &bytes) {
    return bytes ? card::ToHex(*bytes) : NotGivenByReader(program.language());
}

int RunInfo(Program &program, const ReaderOptions &options) {
    ReaderAccess reader(options);
    const card::CardIdentity identity = reader.Identify();
    if (IsUltraLightCard(identity)) return RunUltraLightInfo(program, reader, identity);
    std::optional<std::vector<std::uint8_t>> atqa;
    std::optional<std::vector<std::uint8_t>> sak;
    if (identity.atqa) atqa = std::vector<std::uint8_t>(identity.atqa->begin(), identity.atqa->end());
    if (identity.sak) sak = std::vector<std::uint8_t>{*identity.sak};
    if (program.json()) {
        nlohmann::json out = {{"type", CardName(identity, Language::English)},
                              {"type_code", identity.type_code},
                              {"uid", card::ToHex(identity.uid)},
                              {"reader_serial", card::ToHex(identity.reader_serial)}};
        out["atqa"] = atqa ? nlohmann::json(card::ToHex(*atqa)) : nlohmann::json();
        out["sak"] = sak ? nlohmann::json(card::ToHex(*sak)) : nlohmann::json();
        program.Result(out.dump(2) + "\n");
        return kExitSuccess;
    }
    const std::string code = std::to_string(identity.type_code);
    const std::string name = CardName(identity, program.language());
    program.Result(CardInfoText({name + program.Say(" (type code " + code + ")", "（类型码 " + code + "）"),
                                 card::ToHex(identity.uid), OptionalHex(program, atqa), OptionalHex(program, sak),
                                 identity.reader_serial, {}},
                                program.language()));
    return kExitSuccess;
}

struct ApduOptions {
    ReaderOptions reader;
    std::vector<std::string> apdus;
};

int RunApdu(Program &program, const ApduOptions &options) {
    std::vector<std::vector<std::uint8_t>> apdus;
    for (const auto &text : options.apdus) {
        auto bytes = card::ParseHex(text);
        if (!bytes || bytes->empty() || bytes->size() > 89) {
            throw UsageError("an APDU is 1 to 89 bytes of hexadecimal text: " + text,
                             "APDU 是 1 到 89 个字节的十六进制文本：" + text);
        }
        apdus.push_back(std::move(*bytes));
    }
    ReaderAccess reader(options.reader);
    const auto activation = reader.link().ActivateCos();
    if (!activation) {
        throw CardError("the card did not activate (is a CPU card in the field?)",
                        "卡片没有激活（读卡器上是 CPU 卡吗？）");
    }
    program.Note("activated: " + card::ToHex(*activation), "已激活：" + card::ToHex(*activation));
    nlohmann::json answers = nlohmann::json::array();
    int status = kExitSuccess;
    for (const auto &apdu : apdus) {
        if (program.stop_token().stop_requested()) break;
        const auto answer = reader.link().SendApdu(apdu);
        if (!answer) {
            program.Note(card::ToHex(apdu) + ": no answer from the card", card::ToHex(apdu) + "：卡片没有应答");
            status = kExitFailure;
            break;
        }
        if (program.json()) {
            answers.push_back({{"apdu", card::ToHex(apdu)}, {"answer", card::ToHex(*answer)}});
        } else {
            program.Result(card::ToHex(*answer) + "\n");
        }
    }
    reader.link().DeactivateCos();
    if (program.json()) {
        const nlohmann::json out = {{"activation", card::ToHex(*activation)}, {"answers", answers}};
        program.Result(out.dump(2) + "\n");
    }
    return status;
}

}  // namespace

void AddInfoCommands(Program &program) {
    auto info = std::make_shared<ReaderOptions>();
    CLI::App *command = program.app().add_subcommand(
        "info", "The card in the field: type, UID, ATQA/SAK where the reader gives them; the reader's serial number");
    AddReaderOptions(program, command, *info);
    program.AddJsonOption(command);
    program.Register(command, [&program, info] { return RunInfo(program, *info); });

    auto apdu = std::make_shared<ApduOptions>();
    command = program.app().add_subcommand("apdu", "Activate a CPU card, send APDUs, print each answer");
    AddReaderOptions(program, command, apdu->reader);
    command->add_option("APDU", apdu->apdus, "One APDU per argument, hexadecimal (e.g. 0084000008)")->required();
    program.AddJsonOption(command);
    program.Register(command, [&program, apdu] { return RunApdu(program, *apdu); });
}

}  // namespace zelkor::cli
