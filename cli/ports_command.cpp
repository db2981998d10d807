// zelkor ports: the serial devices, their port numbers under the library's
// naming rule, their stable names, and what to do when they may not be opened.
#include <algorithm>

#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "cli/platform.h"

namespace zelkor::cli {
namespace {

std::string PortsText(const std::vector<platform::SerialDevice> &devices, Language language) {
    std::string text;
    for (const auto &device : devices) {
        std::string line = "COM" + std::to_string(device.number);
        line.resize(std::max<std::size_t>(line.size() + 2, 9), ' ');
        line += device.device;
        if (!device.target.empty()) line += " -> " + device.target;
        if (!device.stable_name.empty()) line += "  " + device.stable_name;
        if (!device.accessible) line += Say(language, "  (no access)", "  （无权访问）");
        text += line + "\n";
    }
    return text;
}

std::string PortsJson(const std::vector<platform::SerialDevice> &devices, const std::string &hint) {
    nlohmann::json ports = nlohmann::json::array();
    for (const auto &device : devices) {
        ports.push_back({{"port", device.number},
                         {"name", "COM" + std::to_string(device.number)},
                         {"device", device.device},
                         {"target", device.target.empty() ? nlohmann::json() : nlohmann::json(device.target)},
                         {"by_id", device.stable_name.empty() ? nlohmann::json() : nlohmann::json(device.stable_name)},
                         {"accessible", device.accessible}});
    }
    nlohmann::json out = {{"ports", ports}};
    if (!hint.empty()) out["hint"] = hint;
    return out.dump(2) + "\n";
}

}  // namespace

void AddPortsCommand(Program &program) {
    CLI::App *command = program.app().add_subcommand(
        "ports", "List the serial devices and their port numbers (for -p)");
    program.AddJsonOption(command);
    program.Register(command, [&program] {
        const auto devices = platform::ListSerialDevices();
        const Bilingual hint = platform::AccessHint(devices);
        if (program.json()) {
            program.Result(PortsJson(devices, hint.english));
            return kExitSuccess;
        }
        if (devices.empty()) program.Note("no serial devices found", "没有找到串口设备");
        program.Result(PortsText(devices, program.language()));
        if (!hint.english.empty()) program.Note(hint.In(program.language()));
        return kExitSuccess;
    });
}

}  // namespace zelkor::cli
