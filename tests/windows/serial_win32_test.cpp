// The Windows serial backend over a real COM port whose other end echoes
// every byte (a pseudo-terminal behind the Wine prefix's com<n>).
#include <thread>

#include <gtest/gtest.h>

#include "reader/platform/port_names.h"
#include "reader/platform/serial_port.h"
#include "tests/windows/wine_support.h"

using namespace wine_support;
using zelkor::platform::ReadStatus;
using zelkor::platform::SerialPort;

namespace {

class SerialWin32Test : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        ASSERT_GT(TestPort(), 0) << "run through wine-run.sh --peer=echo";
        ASSERT_TRUE(zelkor::platform::ResolvePort(TestPort(), path_, sizeof path_));
        ASSERT_TRUE(port_.Open(path_)) << path_;
        ASSERT_TRUE(port_.Configure(GetParam(), 8, 0, 0));
        port_.Purge();
    }

    // Reads until `want` bytes came or `timeout_ms` passed.
    sim::Bytes ReadBytes(std::size_t want, int timeout_ms) {
        sim::Bytes got;
        const auto start = std::chrono::steady_clock::now();
        unsigned char buffer[1024];
        while (got.size() < want && ElapsedMs(start) < timeout_ms) {
            int count = 0;
            if (port_.Read(buffer, sizeof buffer, 50, &count) == ReadStatus::kData)
                got.insert(got.end(), buffer, buffer + count);
        }
        return got;
    }

    char path_[64] = {};
    SerialPort port_;
};

TEST_P(SerialWin32Test, AllByteValuesPassBothWays) {
    sim::Bytes all(256);
    for (int i = 0; i < 256; ++i) all[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    ASSERT_TRUE(port_.Write(all.data(), static_cast<int>(all.size())));
    EXPECT_EQ(ReadBytes(all.size(), 10000), all);
}

TEST_P(SerialWin32Test, ReadWaitsItsTimeAndWakeEndsTheWaitAtOnce) {
    unsigned char buffer[16];
    int count = -1;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port_.Read(buffer, sizeof buffer, 300, &count), ReadStatus::kNothing);
    EXPECT_EQ(count, 0);
    EXPECT_GE(ElapsedMs(start), 250);

    start = std::chrono::steady_clock::now();
    std::thread waker([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        port_.Wake();
    });
    EXPECT_EQ(port_.Read(buffer, sizeof buffer, 20000, &count), ReadStatus::kWoken);
    waker.join();
    EXPECT_LT(ElapsedMs(start), 10000);

    // Input that arrives while a read waits ends the wait too.
    const unsigned char frame[] = {0x55, 0x55, 0x11, 0x13};
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        port_.Write(frame, sizeof frame);
    });
    EXPECT_EQ(ReadBytes(sizeof frame, 10000), sim::Bytes(frame, frame + sizeof frame));
    writer.join();
}

TEST_P(SerialWin32Test, PurgeDropsWhatWasReceived) {
    const unsigned char bytes[] = {1, 2, 3};
    ASSERT_TRUE(port_.Write(bytes, sizeof bytes));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    port_.DiscardInput();
    EXPECT_TRUE(ReadBytes(1, 300).empty());
}

INSTANTIATE_TEST_SUITE_P(LineSpeeds, SerialWin32Test, ::testing::Values(9600, 115200));

TEST(SerialWin32NamesTest, PortNumbersAreWindowsDeviceNames) {
    char path[16];
    EXPECT_TRUE(zelkor::platform::ResolvePort(12, path, sizeof path));
    EXPECT_STREQ(path, "\\\\.\\COM12");
    EXPECT_FALSE(zelkor::platform::ResolvePort(0, path, sizeof path));
    EXPECT_FALSE(zelkor::platform::ResolvePort(123456, path, 8));
    EXPECT_EQ(zelkor::platform::PortNumberForDevice("COM7"), 7);
    EXPECT_EQ(zelkor::platform::PortNumberForDevice("com21"), 21);
    EXPECT_EQ(zelkor::platform::PortNumberForDevice("COM"), 0);
    EXPECT_EQ(zelkor::platform::PortNumberForDevice("LPT1"), 0);
}

}  // namespace
