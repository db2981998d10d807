// zelkor.dll as a Windows program uses it: sessions, commands and the trace
// against the simulated reader (its demo S50 card in the field) behind the
// test's COM port. Each case gets a fresh simulator from wine-run.sh.
#include <cstring>
#include <initializer_list>
#include <thread>

#include <gtest/gtest.h>
#include <windows.h>

#include "tests/windows/wine_support.h"
#include "zelkor.h"

using namespace wine_support;

namespace {

constexpr int kMissingPort = 250;
const sim::Bytes kDemoKey = Hex("5A 3C 96 E1 0F 7B");

sim::Bytes Join(std::initializer_list<sim::Bytes> parts) {
    sim::Bytes out;
    for (const sim::Bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

sim::Bytes Cmd(std::uint8_t group, std::uint8_t code, const sim::Bytes &data = {}) {
    return sim::EncodeCommand(group, code, data);
}

// One good exchange as the log shows it: the frame sent, the answer and the
// command's success message.
std::string Line(const sim::Bytes &frame, const sim::Bytes &answer_data, const std::string &message) {
    return "发送数据：" + ToHex(frame) + "\n收到数据：" + ToHex(sim::EncodeAnswer(0x00, answer_data)) + message;
}

class WineSessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        port_ = TestPort();
        ASSERT_GT(port_, 0) << "run through wine-run.sh --peer=sim";
        ASSERT_EQ(OpenReader(port_, 9600, 8, 0, 0), 1);
        out_.Take();
    }
    void TearDown() override { CloseReader(); }

    int port_ = 0;
    StdoutCapture out_;
};

TEST_F(WineSessionTest, LineSettingsAreCheckedAndAClosedPortIsFree) {
    ASSERT_EQ(CloseReader(), 1);
    EXPECT_EQ(CloseReader(), 0);
    EXPECT_EQ(OpenReader(kMissingPort, 9600, 8, 0, 0), 0);
    EXPECT_EQ(IsReaderOpen(kMissingPort), 0);
    EXPECT_EQ(IsReaderOpen(0), 0);
    struct Settings { int baud, data_bits, parity, stop_bits; };
    for (const Settings &bad : {Settings{0, 8, 0, 0}, Settings{9600, 9, 0, 0}, Settings{9600, 4, 0, 0},
                                Settings{9600, 8, 5, 0}, Settings{9600, 8, 0, 3}}) {
        EXPECT_EQ(OpenReader(port_, bad.baud, bad.data_bits, bad.parity, bad.stop_bits), 0)
            << bad.baud << " " << bad.data_bits << " " << bad.parity << " " << bad.stop_bits;
        EXPECT_EQ(IsReaderOpen(port_), 1);
    }
    EXPECT_EQ(out_.Take(), "");
    // Only the low byte of each setting counts.
    for (const Settings &good : {Settings{115200, 8, 0, 0}, Settings{19200, 7, 2, 2},
                                 Settings{9600, 0x108, 0x100, 0x100}, Settings{4800, 5, 1, 1}}) {
        EXPECT_EQ(OpenReader(port_, good.baud, good.data_bits, good.parity, good.stop_bits), 1)
            << good.baud << " " << good.data_bits << " " << good.parity << " " << good.stop_bits;
        EXPECT_EQ(CloseReader(), 1);
    }
    EXPECT_EQ(IsReaderOpen(port_), 1);
}

TEST_F(WineSessionTest, HeldPortProbesBusy) {
    // Wine lets a second CreateFile open a COM port that is held without
    // sharing; Windows refuses it, which is what the probe relies on.
    if (UnderWine()) GTEST_SKIP() << "Wine does not enforce exclusive COM ports";
    EXPECT_EQ(IsReaderOpen(port_), 0);
    ASSERT_EQ(CloseReader(), 1);
    EXPECT_EQ(IsReaderOpen(port_), 1);
}

TEST_F(WineSessionTest, MifareCardFromSearchToWalletWithItsTrace) {
    card_info info{};
    EXPECT_EQ(FindCard(), 1);
    EXPECT_EQ(Conflict(&info), 1);
    EXPECT_EQ(SelectCard(147), 1);
    EXPECT_EQ(sim::Bytes(info.uid, info.uid + 4), Hex("3A 7C 51 E2"));
    sim::Bytes key = kDemoKey;
    unsigned char block[16] = {};
    EXPECT_EQ(CheckKey(11, 1, 1, 0, 0, key.data()), 1);
    EXPECT_EQ(ReadBlock(1, 1, 0, 11, block), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(block), 16), "Zelkor demo card");
    // Bytes that flow control or text translation would eat: XON, XOFF, CR, LF, Ctrl-Z.
    sim::Bytes data = Hex("11 13 0D 0A 1A 00 FF 55 55 00 00 00 03 00 7F 80");
    EXPECT_EQ(WriteBlock(1, 1, 2, 11, data.data()), 1);
    EXPECT_EQ(ReadBlock(0, -1, 6, 11, block), 1);
    EXPECT_EQ(sim::Bytes(block, block + 16), data);
    int amount = 0;
    EXPECT_EQ(ReadWallet(1, 1, 1, 11, reinterpret_cast<unsigned char *>(&amount)), 1);
    EXPECT_EQ(amount, 1000);

    EXPECT_EQ(out_.Take(),
              GbkLines(Line(Hex("55 55 00 00 00 04 02 01 26 21"), Hex("04 00"), "寻卡成功\n") +
                       Line(Hex("55 55 00 00 00 04 02 02 93 97"), Hex("3A 7C 51 E2 F5"), "防冲突成功\n") +
                       Line(Hex("55 55 00 00 00 04 02 03 93 96"), Hex("08"), "选卡成功\n") +
                       Line(Cmd(0x03, 0x01, Join({Hex("00 01 00 60"), kDemoKey})), {}, "密钥校验成功\n") +
                       Line(Cmd(0x03, 0x02, Hex("00 01 00")),
                            sim::Bytes{'Z', 'e', 'l', 'k', 'o', 'r', ' ', 'd', 'e', 'm', 'o', ' ', 'c', 'a', 'r', 'd'},
                            "读块成功\n") +
                       Line(Cmd(0x03, 0x03, Join({Hex("00 01 02"), data})), {}, "写块成功\n") +
                       Line(Cmd(0x03, 0x02, Hex("01 00 06")), data, "读块成功\n") +
                       Line(Cmd(0x03, 0x05, Hex("00 01 01")), Hex("E8 03 00 00"), "钱包读取成功\n")));

    // A wrong key: the reader refuses at once, and the refusal ends the call
    // without waiting out the answer time.
    sim::Bytes wrong = Hex("00 00 00 00 00 00");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(CheckKey(11, 0, -1, 12, 1, wrong.data()), 0);
    EXPECT_LT(ElapsedMs(start), 800);
    EXPECT_EQ(out_.Take(), GbkLines("发送数据：" + ToHex(Cmd(0x03, 0x01, Join({Hex("01 00 0C 61"), wrong}))) +
                                    "\n收到数据：" + ToHex(sim::EncodeAnswer(0x06)) +
                                    "  #↑M1卡密钥认证出错\n"));
}

TEST_F(WineSessionTest, LineSpeedReachesTheLine) {
    // The reader moves to 115200 bit/s and no longer hears a line at 9600.
    ASSERT_EQ(SetBaudRate(6), 1);
    EXPECT_EQ(FindCard(), 0);
    ASSERT_EQ(OpenReader(port_, 115200, 8, 0, 0), 1);
    EXPECT_EQ(FindCard(), 1);
}

TEST_F(WineSessionTest, UnpluggedReaderFailsCommandsWithoutSpinning) {
    ASSERT_EQ(FindCard(), 1);
    ASSERT_TRUE(SimulatorControl::Send("unplug"));
    ASSERT_TRUE(SimulatorControl::WaitForOutput("reader unplugged", 10000));
    out_.Take();

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(FindCard(), 0);
    EXPECT_GE(ElapsedMs(start), 900);
    EXPECT_TRUE(out_.WaitFor(GbkLines("超时未收到数据\n"), 10000));

    // The receive thread keeps polling a port with nothing behind it; it
    // must sleep between polls, not spin.
    const double cpu_before = ProcessCpuMs();
    std::this_thread::sleep_for(std::chrono::milliseconds(2000));
    EXPECT_LT(ProcessCpuMs() - cpu_before, 600.0);

    const auto close_start = std::chrono::steady_clock::now();
    CloseReader();
    EXPECT_LT(ElapsedMs(close_start), 5000);
    EXPECT_EQ(OpenReader(port_, 9600, 8, 0, 0), 0);
}

// Runs session_exit_probe.exe (beside this program) on the test's port and
// returns its exit code, or -1 when it did not end within `limit_ms`.
long RunExitProbe(int port, const char *mode, int limit_ms) {
    char path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string command(path, length);
    command.erase(command.find_last_of("\\/") + 1);
    command = "\"" + command + "session_exit_probe.exe\" " + std::to_string(port) + " " + mode;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                         &startup, &process) == 0) {
        return -2;
    }
    long code = -1;
    if (::WaitForSingleObject(process.hProcess, static_cast<DWORD>(limit_ms)) == WAIT_OBJECT_0) {
        DWORD exit_code = 0;
        ::GetExitCodeProcess(process.hProcess, &exit_code);
        code = static_cast<long>(exit_code);
    } else {
        ::TerminateProcess(process.hProcess, 99);
    }
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return code;
}

TEST_F(WineSessionTest, ProgramsLeavingWithAnOpenSessionEndPromptly) {
    ASSERT_EQ(CloseReader(), 1);
    // Ending the process, and unloading the DLL (which must not wait for the
    // receive thread under the loader lock: that hung).
    for (const char *mode : {"exit", "unload"}) {
        EXPECT_EQ(RunExitProbe(port_, mode, 15000), 0) << mode;
        EXPECT_EQ(IsReaderOpen(port_), 1) << mode;
    }
}

}  // namespace
