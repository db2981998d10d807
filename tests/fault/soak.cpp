// Soak: many exchanges in one session against the simulated reader with a
// demo S50 card in its field. Resident memory and the thread count must be
// the same at the end as after the warm-up. Then the reader vanishes, and the
// receive thread must stay nearly idle until CloseReader.
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include "tests/support/reader_fixture.h"
#include "sim/reader_model.h"
#include "sim/sample_cards.h"
#include "sim/simulator.h"
#include "zelkor.h"

namespace {

using Clock = std::chrono::steady_clock;
using testing_support::kSlack;

constexpr int kPort = 7;
#ifdef ZELKOR_UNDER_SANITIZER
// Sanitizer allocators hold freed memory in quarantine: resident memory says
// nothing about leaks there (the leak checker does).
constexpr bool kCheckMemory = false;
#else
constexpr bool kCheckMemory = true;
#endif
constexpr long kMemoryMarginKb = 256;

long VmRssKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return -1;
}

std::set<long> ThreadIds() {
    std::set<long> ids;
    if (DIR *d = ::opendir("/proc/self/task")) {
        while (const dirent *e = ::readdir(d)) {
            if (e->d_name[0] != '.') ids.insert(std::atol(e->d_name));
        }
        ::closedir(d);
    }
    return ids;
}

// Processor time (ns) and number of times the thread was scheduled.
bool ThreadCpu(long tid, unsigned long long *ns, unsigned long long *runs) {
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/schedstat");
    unsigned long long wait = 0;
    return static_cast<bool>(in >> *ns >> wait >> *runs);
}

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

}  // namespace

int main(int argc, char **argv) {
    long exchanges = 100000;
    int vanish_ms = 3000;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--exchanges" && i + 1 < argc) {
            exchanges = std::atol(argv[++i]);
        } else if (arg == "--vanish-ms" && i + 1 < argc) {
            vanish_ms = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: %s [--exchanges N] [--vanish-ms MS]\n", argv[0]);
            return 2;
        }
    }
    if (exchanges < 4) return 2;
    // The library traces every exchange on standard output; the report goes
    // to the original standard output, the trace nowhere.
    FILE *report = ::fdopen(::dup(1), "w");
    if (report == nullptr || std::freopen("/dev/null", "w", stdout) == nullptr) return 2;

    char dir[] = "/tmp/zelkor-soak-XXXXXX";
    if (::mkdtemp(dir) == nullptr) return 2;
    ::setenv("ZELKOR_PORT_DIR", dir, 1);
    auto model = std::make_shared<sim::ReaderModel>();
    model->PutCard(sim::MakeDemoS50());
    sim::Simulator simulator(model);
    if (!simulator.Start() || !simulator.Publish(dir, kPort)) return 2;
    const std::set<long> before_open = ThreadIds();
    if (OpenReader(kPort, 9600, 8, 0, 0) != 1) {
        std::fprintf(report, "soak: OpenReader failed\n");
        return 1;
    }
    long receive_tid = 0;
    for (long id : ThreadIds()) {
        if (before_open.count(id) == 0) receive_tid = id;
    }

    unsigned char key[6] = {0x5A, 0x3C, 0x96, 0xE1, 0x0F, 0x7B};
    unsigned char written[16] = {};
    unsigned char read[16] = {};
    long failed = 0;
    long mismatched = 0;
    // FindCard, CheckKey, WriteBlock, ReadBlock, over and over; each read must
    // give back what the write before it stored.
    auto run = [&](long count, long first) {
        for (long i = first; i < first + count; ++i) {
            int ok = 0;
            switch (i % 4) {
            case 0: ok = FindCard(); break;
            case 1: ok = CheckKey(11, 0, 0, 4, 0, key); break;
            case 2:
                for (int k = 0; k < 16; ++k) written[k] = static_cast<unsigned char>((i >> (k % 4 * 8)) + k);
                ok = WriteBlock(0, 0, 4, 11, written);
                break;
            case 3:
                std::memset(read, 0, sizeof read);
                ok = ReadBlock(0, 0, 4, 11, read);
                if (ok == 1 && std::memcmp(read, written, sizeof read) != 0) ++mismatched;
                break;
            }
            if (ok != 1) ++failed;
            if (i % 1000 == 999) simulator.ClearFrames();
        }
    };

    const long warm_up = std::min(2000L, exchanges / 4) / 4 * 4;
    run(warm_up, 0);
    const long rss_before = VmRssKb();
    const std::size_t threads_before = ThreadIds().size();
    const auto start = Clock::now();
    run(exchanges, warm_up);
    const double took = Seconds(start);
    const long rss_after = VmRssKb();
    const std::size_t threads_after = ThreadIds().size();

    std::fprintf(report,
                 "soak: %ld exchanges in %.1f s (%.0f per second, %.2f ms each), %ld failed, %ld reads "
                 "differed from the write before\n",
                 exchanges, took, static_cast<double>(exchanges) / took, took * 1000.0 / static_cast<double>(exchanges),
                 failed, mismatched);
    std::fprintf(report, "soak: VmRSS %ld kB before, %ld kB after (%+ld kB); threads %zu before, %zu after\n",
                 rss_before, rss_after, rss_after - rss_before, threads_before, threads_after);
    bool ok = failed == 0 && mismatched == 0 && threads_after == threads_before;
    if (kCheckMemory && rss_after - rss_before > kMemoryMarginKb) {
        std::fprintf(report, "soak: resident memory grew by more than %ld kB\n", kMemoryMarginKb);
        ok = false;
    }

    // The reader vanishes: the receive thread must not spin.
    if (vanish_ms > 0 && receive_tid != 0) {
        simulator.Unplug();
        for (int i = 0; i < 100 && !simulator.unplugged(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        unsigned long long ns0 = 0, runs0 = 0, ns1 = 0, runs1 = 0;
        const bool measured = ThreadCpu(receive_tid, &ns0, &runs0);
        std::this_thread::sleep_for(std::chrono::milliseconds(vanish_ms));
        if (measured && ThreadCpu(receive_tid, &ns1, &runs1)) {
            const double cpu_ms = static_cast<double>(ns1 - ns0) / 1e6;
            std::fprintf(report,
                         "soak: reader vanished: receive thread used %.2f ms of processor time in %d ms, "
                         "scheduled %llu times\n",
                         cpu_ms, vanish_ms, runs1 - runs0);
            // One wake-up per 50 ms poll period is the expected pace.
            const double limit_ms = 10.0 * vanish_ms / 1000.0 * kSlack;
            const unsigned long long limit_runs = static_cast<unsigned long long>(vanish_ms / 50 * 3 + 10);
            if (cpu_ms > limit_ms || runs1 - runs0 > limit_runs) {
                std::fprintf(report, "soak: the receive thread spins after the device vanished\n");
                ok = false;
            }
        } else {
            std::fprintf(report, "soak: receive thread not measurable\n");
            ok = false;
        }
    }
    const auto close_start = Clock::now();
    const int closed = CloseReader();
    const double close_ms = Seconds(close_start) * 1000.0;
    const std::size_t threads_closed = ThreadIds().size();
    std::fprintf(report, "soak: CloseReader returned %d in %.1f ms; threads after it %zu\n", closed, close_ms,
                 threads_closed);
    if (threads_closed != threads_before - 1) ok = false;
    simulator.Stop();
    ::unlink((std::string(dir) + "/COM" + std::to_string(kPort)).c_str());
    ::rmdir(dir);
    std::fprintf(report, "soak: %s\n", ok ? "passed" : "FAILED");
    std::fclose(report);
    return ok ? 0 : 1;
}
