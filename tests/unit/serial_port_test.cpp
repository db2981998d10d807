// The POSIX serial layer through a real pseudo-terminal.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "reader/platform/serial_port.h"
#include "sim/pty.h"

using zelkor::platform::ProbePort;
using zelkor::platform::ReadStatus;
using zelkor::platform::SerialPort;

namespace {

std::vector<unsigned char> ReadAtLeast(int fd, std::size_t count) {
    std::vector<unsigned char> out;
    unsigned char buffer[512];
    for (int rounds = 0; out.size() < count && rounds < 500; ++rounds) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, 10) <= 0) continue;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) out.insert(out.end(), buffer, buffer + n);
    }
    return out;
}

class SerialPortTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(pty_.Open()); }
    sim::PseudoTerminal pty_;
    SerialPort port_;
};

TEST_F(SerialPortTest, EveryByteValuePassesUnchangedBothWays) {
    ASSERT_TRUE(port_.Open(pty_.slave_path().c_str()));
    ASSERT_TRUE(port_.Configure(9600, 8, 0, 0));
    std::vector<unsigned char> all(256);
    for (int i = 0; i < 256; ++i) all[static_cast<size_t>(i)] = static_cast<unsigned char>(i);

    ASSERT_TRUE(port_.Write(all.data(), 256));
    EXPECT_EQ(ReadAtLeast(pty_.master(), 256), all);

    ASSERT_EQ(::write(pty_.master(), all.data(), 256), 256);
    std::vector<unsigned char> received;
    unsigned char buffer[1024];
    for (int rounds = 0; received.size() < 256 && rounds < 100; ++rounds) {
        int count = 0;
        if (port_.Read(buffer, sizeof buffer, 20, &count) == ReadStatus::kData)
            received.insert(received.end(), buffer, buffer + count);
    }
    EXPECT_EQ(received, all);
}

TEST_F(SerialPortTest, LineSettingsAreCheckedAndApplied) {
    ASSERT_TRUE(port_.Open(pty_.slave_path().c_str()));
    EXPECT_TRUE(port_.Configure(115200, 8, 0, 0));
    EXPECT_EQ(pty_.SlaveBaud(), 115200);
    EXPECT_TRUE(port_.Configure(2400, 7, 2, 2));
    EXPECT_TRUE(port_.Configure(9600, 5, 3, 0));
    EXPECT_TRUE(port_.Configure(9600, 6, 4, 0));
    // Only the low byte of data bits, parity and stop bits counts.
    EXPECT_TRUE(port_.Configure(9600, 0x108, 0x100, 0x100));
    EXPECT_EQ(pty_.SlaveBaud(), 9600);

    EXPECT_FALSE(port_.Configure(12345, 8, 0, 0));
    EXPECT_FALSE(port_.Configure(0, 8, 0, 0));
    EXPECT_FALSE(port_.Configure(9600, 4, 0, 0));
    EXPECT_FALSE(port_.Configure(9600, 9, 0, 0));
    EXPECT_FALSE(port_.Configure(9600, 8, 5, 0));
    EXPECT_FALSE(port_.Configure(9600, 8, 0, 3));
}

TEST_F(SerialPortTest, OneAndAHalfStopBitsBecomeTwo) {
    ASSERT_TRUE(port_.Open(pty_.slave_path().c_str()));
    ASSERT_TRUE(port_.Configure(9600, 8, 0, 1));
    termios tio{};
    const int probe = ::open(pty_.slave_path().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (probe >= 0) {
        // Root passes the exclusive flag; elsewhere ask through the port's own settings.
        ASSERT_EQ(::tcgetattr(probe, &tio), 0);
        ::close(probe);
        EXPECT_NE(tio.c_cflag & CSTOPB, 0u);
    }
}

TEST_F(SerialPortTest, HeldPortIsExclusiveAndFreedOnClose) {
    const std::string path = pty_.slave_path();
    EXPECT_TRUE(ProbePort(path.c_str()));
    ASSERT_TRUE(port_.Open(path.c_str()));
    EXPECT_FALSE(ProbePort(path.c_str()));
    SerialPort second;
    EXPECT_FALSE(second.Open(path.c_str()));
    // Even a process that passes the exclusive flag (root) cannot lock it.
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd >= 0) {
        EXPECT_NE(::flock(fd, LOCK_EX | LOCK_NB), 0);
        ::close(fd);
    }
    EXPECT_TRUE(port_.Close());
    EXPECT_TRUE(ProbePort(path.c_str()));
    EXPECT_TRUE(second.Open(path.c_str()));
}

TEST_F(SerialPortTest, NonTerminalsAndMissingDevicesDoNotOpen) {
    EXPECT_FALSE(port_.Open("/dev/null"));
    EXPECT_FALSE(port_.Open("/nonexistent/ttyX"));
    EXPECT_FALSE(ProbePort("/dev/null"));
}

TEST_F(SerialPortTest, WakeInterruptsAWaitAndHangUpReportsGone) {
    ASSERT_TRUE(port_.Open(pty_.slave_path().c_str()));
    unsigned char buffer[16];
    int count = 0;
    EXPECT_EQ(port_.Read(buffer, sizeof buffer, 0, &count), ReadStatus::kNothing);
    port_.Wake();
    EXPECT_EQ(port_.Read(buffer, sizeof buffer, 1000, &count), ReadStatus::kWoken);
    pty_.Close();
    EXPECT_EQ(port_.Read(buffer, sizeof buffer, 1000, &count), ReadStatus::kGone);
    EXPECT_EQ(port_.Read(buffer, sizeof buffer, 1000, &count), ReadStatus::kGone);
}

}  // namespace
