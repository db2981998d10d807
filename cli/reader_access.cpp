#include "cli/reader_access.h"

#include <cctype>

namespace zelkor::cli {
namespace {

bool AllDigits(std::string_view text) {
    if (text.empty() || text.size() > 6) return false;
    for (char c : text) {
        if (std::isdigit(static_cast<unsigned char>(c)) == 0) return false;
    }
    return true;
}

std::string PortName(const ReaderOptions &options, int number) {
    const std::string com = "COM" + std::to_string(number);
    return options.port == com || AllDigits(options.port) ? com : com + " (" + options.port + ")";
}

}  // namespace

void AddReaderOptions(Program &program, CLI::App *command, ReaderOptions &options) {
    command
        ->add_option("-p,--port", options.port, platform::PortOptionHelp())
        ->required()
        ->type_name("PORT");
    command->add_option("-b,--baud", options.baud, "Line speed in bit/s")
        ->check(CLI::IsMember({2400, 4800, 9600, 19200, 38400, 57600, 115200}))
        ->default_val(9600);
    program.AddTraceOptions(command);
}

PortArgument ParsePortArgument(std::string_view text) {
    std::string_view digits = text;
    if (digits.size() > 3 && (digits.substr(0, 3) == "COM" || digits.substr(0, 3) == "com")) digits.remove_prefix(3);
    if (AllDigits(digits)) {
        const int number = std::stoi(std::string(digits));
        if (number <= 0) {
            throw UsageError("port numbers start at 1: " + std::string(text), "端口号从 1 开始：" + std::string(text));
        }
        return {number, {}};
    }
    if (text.empty()) throw UsageError("no port given", "没有指定端口");
    if (text.find('/') == std::string_view::npos) return {0, "/dev/" + std::string(text)};
    return {0, std::string(text)};
}

ReaderAccess::ReaderAccess(const ReaderOptions &options) {
    PortArgument port = ParsePortArgument(options.port);
    if (!port.device.empty()) {
        Bilingual error;
        published_ = platform::PublishDevice(port.device, &error);
        if (!published_) throw UsageError(error);
        port.number = published_->number();
    }
    session_ = card::ReaderSession::Open(port.number, options.baud);
    if (!session_) {
        const std::string port_name = PortName(options, port.number);
        const std::string baud = std::to_string(options.baud);
        throw CardError("cannot open " + port_name + " at " + baud +
                            " bit/s: the port is missing, held by another program or refuses the speed",
                        "无法以 " + baud + " bit/s 打开 " + port_name + "：端口不存在、被其他程序占用或不支持该波特率");
    }
    link_.emplace(*session_);
}

card::CardIdentity ReaderAccess::Identify() {
    auto identity = link_->Identify();
    if (!identity) throw CardError("no card answers in the reader's field", "读卡器上没有找到卡片");
    return *identity;
}

card::CardIdentity ReaderAccess::IdentifyClassic() {
    card::CardIdentity identity = Identify();
    RequireClassic(identity);
    return identity;
}

void ReaderAccess::RequireClassic(const card::CardIdentity &identity) {
    if (!identity.kind) {
        const std::string code = std::to_string(identity.type_code);
        throw CardError("the card in the field is not a MIFARE Classic 1K or 4K card (type code " + code + ")",
                        "读卡器上的卡片不是 MIFARE Classic 1K 或 4K 卡（类型码 " + code + "）");
    }
}

}  // namespace zelkor::cli
