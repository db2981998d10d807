// Measures what the library costs beyond the serial line: single-command
// latency against an instant simulated reader, whole-card reads against a
// reader paced at the real line speed (compared with the line's own lower
// bound), and the processor time of an idle open session.
//
// zelkor-bench [--quick]   (--quick: a few iterations, for the test suite)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include "reader_model.h"
#include "sample_cards.h"
#include "simulator.h"
#include "zelkor.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kPort = 9;

FILE *g_report = stderr;  // the table; the library's trace goes to /dev/null

struct Bench {
    std::string dir;
    std::shared_ptr<sim::ReaderModel> model = std::make_shared<sim::ReaderModel>();
    sim::Simulator simulator{model};

    bool Start() {
        char tmp[] = "/tmp/zelkor-bench-XXXXXX";
        if (::mkdtemp(tmp) == nullptr) return false;
        dir = tmp;
        ::setenv("ZELKOR_PORT_DIR", tmp, 1);
        return simulator.Start() && simulator.Publish(dir, kPort);
    }
    ~Bench() {
        CloseReader();
        simulator.Stop();
        ::unlink((dir + "/COM" + std::to_string(kPort)).c_str());
        ::rmdir(dir.c_str());
    }
};

double Micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

struct Latency {
    double median_us = 0;
    double p99_us = 0;
    int failures = 0;
};

template <typename Call>
Latency Measure(int iterations, Call call) {
    std::vector<double> samples;
    Latency result;
    for (int i = 0; i < iterations; ++i) {
        const auto start = Clock::now();
        if (call() == 0) ++result.failures;
        samples.push_back(Micros(Clock::now() - start));
    }
    std::sort(samples.begin(), samples.end());
    result.median_us = samples[samples.size() / 2];
    result.p99_us = samples[std::min(samples.size() - 1, samples.size() * 99 / 100)];
    return result;
}

// Bytes on the line in both directions for the exchange just made.
long ExchangedBytes() {
    unsigned char buffer[1024];
    return GetReaderSendCmd(buffer) + GetReaderRecvData(buffer);
}

unsigned char g_key[6] = {0x5A, 0x3C, 0x96, 0xE1, 0x0F, 0x7B};

struct CardRead {
    double seconds = 0;
    long bytes = 0;
    int failures = 0;
};

// Authenticates every sector and reads every block, through the public API.
CardRead ReadWholeCard(int card_type) {
    const int sectors = card_type == 12 ? 40 : 16;
    CardRead result;
    unsigned char block[16];
    const auto start = Clock::now();
    for (int sector = 0; sector < sectors; ++sector) {
        const int blocks = sector < 32 ? 4 : 16;
        result.failures += CheckKey(card_type, 1, sector, 0, 0, g_key) == 0;
        result.bytes += ExchangedBytes();
        for (int b = 0; b < blocks; ++b) {
            result.failures += ReadBlock(1, sector, b, card_type, block) == 0;
            result.bytes += ExchangedBytes();
        }
    }
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return result;
}

double ProcessCpuSeconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

bool RunLatency(Bench &bench, int iterations) {
    bench.simulator.SetWireBaud(0);
    if (OpenReader(kPort, 115200, 8, 0, 0) != 1) return false;
    unsigned char block[16] = {};
    std::fprintf(g_report, "Single commands against an instant reader (%d calls each)\n", iterations);
    std::fprintf(g_report, "  %-24s %12s %12s\n", "command", "median (us)", "p99 (us)");
    auto row = [](const char *name, const Latency &l) {
        std::fprintf(g_report, "  %-24s %12.0f %12.0f%s\n", name, l.median_us, l.p99_us,
                     l.failures != 0 ? "   (failures!)" : "");
        return l.failures == 0;
    };
    bool ok = true;
    bench.model->PutCard(sim::MakeDemoS50());
    ok &= row("FindCard", Measure(iterations, [] { return FindCard(); }));
    ok &= row("CheckKey", Measure(iterations, [] { return CheckKey(11, 1, 1, 0, 0, g_key); }));
    ok &= row("ReadBlock", Measure(iterations, [&] { return ReadBlock(1, 1, 0, 11, block); }));
    ok &= row("WriteBlock", Measure(iterations, [&] { return WriteBlock(1, 1, 1, 11, block); }));
    bench.model->PutCard(sim::MakeDemoCpuCard());
    ok &= CosActivation() == 1;
    unsigned char apdu[89];
    std::memset(apdu, 0, sizeof apdu);
    apdu[1] = 0xA4;  // SELECT with a long data field
    apdu[4] = 84;
    ok &= row("SendCosCommand (89 B)", Measure(iterations, [&] { return SendCosCommand(apdu, 89); }));
    CosDeactive();
    CloseReader();
    return ok;
}

bool RunWholeCard(Bench &bench, bool quick) {
    std::fprintf(g_report, "\nWhole-card read (authenticate every sector, read every block; median of 3)\n");
    std::fprintf(g_report, "  %-6s %8s %10s %12s %14s %8s\n", "card", "bit/s", "bytes", "time (s)",
                 "line bound (s)", "ratio");
    bool ok = true;
    for (const int baud : {9600, 115200}) {
        for (const int card_type : {11, 12}) {
            if (quick && (baud == 9600 || card_type == 12)) continue;
            bench.model->PutCard(card_type == 11 ? std::shared_ptr<sim::Card>(sim::MakeDemoS50())
                                                 : std::shared_ptr<sim::Card>(sim::MakeDemoS70()));
            bench.simulator.SetWireBaud(baud);
            if (OpenReader(kPort, baud, 8, 0, 0) != 1) return false;
            // The median of three runs: the first after a quiet spell pays
            // for threads waking on cold processors.
            CardRead runs[3];
            for (CardRead &run : runs) run = ReadWholeCard(card_type);
            std::sort(std::begin(runs), std::end(runs),
                      [](const CardRead &a, const CardRead &b) { return a.seconds < b.seconds; });
            CardRead r = runs[1];
            for (const CardRead &run : runs) r.failures += run.failures;
            CloseReader();
            const double bound = static_cast<double>(r.bytes) * 10.0 / baud;
            std::fprintf(g_report, "  %-6s %8d %10ld %12.3f %14.3f %8.3f%s\n",
                         card_type == 11 ? "S50" : "S70", baud, r.bytes, r.seconds, bound,
                         r.seconds / bound, r.failures != 0 ? "   (failures!)" : "");
            ok &= r.failures == 0;
        }
    }
    bench.simulator.SetWireBaud(0);
    return ok;
}

bool RunIdle(int seconds) {
    if (OpenReader(kPort, 9600, 8, 0, 0) != 1) return false;
    const double cpu_before = ProcessCpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double cpu = ProcessCpuSeconds() - cpu_before;
    CloseReader();
    std::fprintf(g_report,
                 "\nIdle open session for %d s: %.1f ms processor time, %.3f %% of one core\n"
                 "  (the whole process: library and simulator threads)\n",
                 seconds, cpu * 1000.0, cpu * 100.0 / seconds);
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    // The table goes to the original standard output; the trace to /dev/null.
    g_report = ::fdopen(::dup(1), "w");
    if (g_report == nullptr || std::freopen("/dev/null", "w", stdout) == nullptr) return 2;
    Bench bench;
    if (!bench.Start()) {
        std::fprintf(g_report, "zelkor-bench: cannot start the simulated reader\n");
        return 2;
    }
    bool ok = RunLatency(bench, quick ? 20 : 1000);
    ok &= RunWholeCard(bench, quick);
    ok &= RunIdle(quick ? 1 : 10);
    std::fflush(g_report);
    return ok ? 0 : 1;
}
