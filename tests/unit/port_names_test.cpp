// Port numbers and the devices behind them.
#include <cstdlib>
#include <fstream>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "reader/platform/port_names.h"
#include "ports/port_list.h"
#include "tests/support/temp_dir.h"

using namespace zelkor::platform;

namespace {

TEST(PortNamesTest, DeviceFamiliesHaveFixedNumbers) {
    EXPECT_EQ(PortNumberForDevice("ttyS0"), 1);
    EXPECT_EQ(PortNumberForDevice("ttyS2"), 3);
    EXPECT_EQ(PortNumberForDevice("ttyS99"), 100);
    EXPECT_EQ(PortNumberForDevice("ttyUSB0"), 101);
    EXPECT_EQ(PortNumberForDevice("ttyUSB7"), 108);
    EXPECT_EQ(PortNumberForDevice("ttyACM0"), 201);
    EXPECT_EQ(PortNumberForDevice("ttyACM12"), 213);
    EXPECT_EQ(PortNumberForDevice("ttyS100"), 0);
    EXPECT_EQ(PortNumberForDevice("ttyUSB"), 0);
    EXPECT_EQ(PortNumberForDevice("ttyS1a"), 0);
    EXPECT_EQ(PortNumberForDevice("tty0"), 0);
    EXPECT_EQ(PortNumberForDevice("ttyAMA0"), 0);
}

class PublishedPortsTest : public ::testing::Test {
protected:
    void SetUp() override { ::setenv(kPortDirVariable, dir_.c_str(), 1); }
    void TearDown() override { ::unsetenv(kPortDirVariable); }
    const zelkor::test::TempDir temp_{"zelkor-names"};
    const std::string dir_ = temp_.path();
};

TEST_F(PublishedPortsTest, PublishedEntriesWinAndAreListedFirst) {
    ASSERT_EQ(::symlink("/dev/null", (dir_ + "/COM12").c_str()), 0);
    ASSERT_EQ(::symlink("/dev/null", (dir_ + "/COM3").c_str()), 0);
    ASSERT_EQ(::symlink("/dev/null", (dir_ + "/COMx").c_str()), 0);
    std::ofstream(dir_ + "/other") << "x";

    char path[256];
    ASSERT_TRUE(ResolvePort(3, path, sizeof path));
    EXPECT_EQ(std::string(path), dir_ + "/COM3");
    ASSERT_TRUE(ResolvePort(12, path, sizeof path));
    EXPECT_EQ(std::string(path), dir_ + "/COM12");

    const auto ports = zelkor::ports::ListPorts();
    ASSERT_GE(ports.size(), 2u);
    EXPECT_EQ(ports[0].number, 3);
    EXPECT_EQ(ports[0].label, "COM3 (/dev/null)");
    EXPECT_EQ(ports[1].number, 12);
    EXPECT_EQ(ports[1].label.rfind("COM12 ", 0), 0u);
}

TEST_F(PublishedPortsTest, NumbersThatMapToNothingDoNotResolve) {
    char path[256];
    EXPECT_FALSE(ResolvePort(0, path, sizeof path));
    EXPECT_FALSE(ResolvePort(-3, path, sizeof path));
    EXPECT_FALSE(ResolvePort(999, path, sizeof path));
    EXPECT_FALSE(ResolvePort(150, path, sizeof path));  // ttyUSB49: not present here
    char tiny[4];
    ASSERT_EQ(::symlink("/dev/null", (dir_ + "/COM3").c_str()), 0);
    EXPECT_FALSE(ResolvePort(3, tiny, sizeof tiny));
}

}  // namespace
