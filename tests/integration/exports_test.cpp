// The library exports exactly its 37 functions, and its header is plain C.
#include <cstdio>
#include <set>
#include <string>

#include <gtest/gtest.h>

extern "C" int zelkor_header_compiles_as_c(void);

namespace {

std::set<std::string> DynamicSymbols(const char *library) {
    std::set<std::string> names;
    const std::string command = std::string("nm -D --defined-only ") + library;
    FILE *pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return names;
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        char address[64], type[8], name[400];
        if (std::sscanf(line, "%63s %7s %399s", address, type, name) == 3) names.insert(name);
    }
    ::pclose(pipe);
    return names;
}

TEST(ExportsTest, OnlyTheThirtySevenFunctionsLeaveTheLibrary) {
    const std::set<std::string> expected = {
        "OpenReader", "CloseReader", "IsReaderOpen", "GetReaderSendCmd", "GetReaderRecvData",
        "FindCard", "WakeUp", "SelectCard", "Conflict", "GetCardInfo", "ManualCard",
        "ComposeFindCard", "PauseCard", "AutoFindCard", "BuzzerOn", "AntennaOff", "GetReaderId",
        "SetBaudRate", "ReadReader", "SendM1Command", "CheckKey", "ReadBlock", "WriteBlock",
        "ComposeRead", "ComposeWrite", "WalletInit", "ReadWallet", "WalletAdd", "WalletDec",
        "ReadCtrlWord", "CheckCtrlKey", "ModifyKey", "ModifyControl", "CosActivation",
        "CosDeactive", "SendCosCommand", "Exauthentication"};
    ASSERT_EQ(expected.size(), 37u);
    std::set<std::string> found = DynamicSymbols(ZELKOR_LIBRARY_FILE);
    ASSERT_FALSE(found.empty()) << "cannot read the symbol table of " << ZELKOR_LIBRARY_FILE;
    EXPECT_EQ(found, expected);
}

TEST(ExportsTest, HeaderIsUsableFromC) { EXPECT_EQ(zelkor_header_compiles_as_c(), 37); }

}  // namespace
