// Tests capture file descriptor 1 to read what the library prints, and
// GoogleTest prints its results there too. This printer writes GoogleTest's
// usual report to the original standard output whatever fd 1 is at the time.
#include <cstdio>

#include <unistd.h>

#include <gtest/gtest.h>

namespace {

class ConsolePrinter : public ::testing::TestEventListener {
public:
    ConsolePrinter(::testing::TestEventListener *inner, int console_fd)
        : inner_(inner), console_fd_(console_fd) {}
    ~ConsolePrinter() override { delete inner_; }

    void OnTestProgramStart(const ::testing::UnitTest &u) override { Run([&] { inner_->OnTestProgramStart(u); }); }
    void OnTestIterationStart(const ::testing::UnitTest &u, int i) override { Run([&] { inner_->OnTestIterationStart(u, i); }); }
    void OnEnvironmentsSetUpStart(const ::testing::UnitTest &u) override { Run([&] { inner_->OnEnvironmentsSetUpStart(u); }); }
    void OnEnvironmentsSetUpEnd(const ::testing::UnitTest &u) override { Run([&] { inner_->OnEnvironmentsSetUpEnd(u); }); }
    void OnTestSuiteStart(const ::testing::TestSuite &s) override { Run([&] { inner_->OnTestSuiteStart(s); }); }
    void OnTestStart(const ::testing::TestInfo &t) override { Run([&] { inner_->OnTestStart(t); }); }
    void OnTestPartResult(const ::testing::TestPartResult &r) override { Run([&] { inner_->OnTestPartResult(r); }); }
    void OnTestEnd(const ::testing::TestInfo &t) override { Run([&] { inner_->OnTestEnd(t); }); }
    void OnTestSuiteEnd(const ::testing::TestSuite &s) override { Run([&] { inner_->OnTestSuiteEnd(s); }); }
    void OnEnvironmentsTearDownStart(const ::testing::UnitTest &u) override { Run([&] { inner_->OnEnvironmentsTearDownStart(u); }); }
    void OnEnvironmentsTearDownEnd(const ::testing::UnitTest &u) override { Run([&] { inner_->OnEnvironmentsTearDownEnd(u); }); }
    void OnTestIterationEnd(const ::testing::UnitTest &u, int i) override { Run([&] { inner_->OnTestIterationEnd(u, i); }); }
    void OnTestProgramEnd(const ::testing::UnitTest &u) override { Run([&] { inner_->OnTestProgramEnd(u); }); }

private:
    template <typename F>
    void Run(F &&print) {
        std::fflush(stdout);
        const int current = ::dup(1);
        ::dup2(console_fd_, 1);
        print();
        std::fflush(stdout);
        ::dup2(current, 1);
        ::close(current);
    }

    ::testing::TestEventListener *inner_;
    int console_fd_;
};

struct InstallConsolePrinter {
    InstallConsolePrinter() {
        auto &listeners = ::testing::UnitTest::GetInstance()->listeners();
        ::testing::TestEventListener *pretty = listeners.Release(listeners.default_result_printer());
        if (pretty != nullptr) listeners.Append(new ConsolePrinter(pretty, ::dup(1)));
    }
} install_console_printer;

}  // namespace
