// Against a real reader, only when ZELKOR_HARDWARE_PORT names its port
// number (for example ZELKOR_HARDWARE_PORT=101 for /dev/ttyUSB0) and
// ZELKOR_HARDWARE_BAUD its line speed (default 9600). Skipped otherwise.
#include <cstdlib>

#include <gtest/gtest.h>

#include "zelkor.h"

namespace {

class HardwareReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char *port = std::getenv("ZELKOR_HARDWARE_PORT");
        if (port == nullptr || *port == '\0') GTEST_SKIP() << "no ZELKOR_HARDWARE_PORT";
        const char *baud = std::getenv("ZELKOR_HARDWARE_BAUD");
        port_ = std::atoi(port);
        ASSERT_EQ(OpenReader(port_, baud != nullptr ? std::atoi(baud) : 9600, 8, 0, 0), 1);
    }
    void TearDown() override {
        if (port_ > 0) CloseReader();
    }
    int port_ = 0;
};

TEST_F(HardwareReaderTest, ReaderAnswersWithItsSerialNumberAndHoldsItsPort) {
    unsigned char id[128] = {};
    int length = -1;
    EXPECT_EQ(GetReaderId(id, &length), 1);
    EXPECT_GE(length, 0);
    EXPECT_LE(length, 120);
    EXPECT_EQ(IsReaderOpen(port_), 0);
    unsigned char frame[256];
    EXPECT_EQ(GetReaderSendCmd(frame), 9);
}

}  // namespace
