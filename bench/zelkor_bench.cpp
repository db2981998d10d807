// Measures what the library costs beyond the serial line: single-command
// latency against an instant simulated reader, whole-card reads, key search
// and dumps with the card toolkit against a reader paced at the real line
// speed (compared with the bound: the line's time for every byte exchanged
// plus the simulated reader's time on the card), the key search's exchange
// count, and the processor time of an idle open session.
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

#include "card/card_dump.h"
#include "card/key_search.h"
#include "card/reader_card_link.h"
#include "sim/reader_model.h"
#include "sim/sample_cards.h"
#include "sim/simulator.h"
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
    long long card_us = 0;  // the simulated reader's time on the card
    int failures = 0;
};

// Lower bound of a run: every byte on the line, and the reader's card time.
double Bound(long bytes, long long card_us, int baud) {
    return static_cast<double>(bytes) * 10.0 / baud + static_cast<double>(card_us) / 1e6;
}

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
                 "bound (s)", "ratio");
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
            for (CardRead &run : runs) {
                bench.model->ResetCardTime();
                run = ReadWholeCard(card_type);
                run.card_us = bench.model->card_time_us();
            }
            std::sort(std::begin(runs), std::end(runs),
                      [](const CardRead &a, const CardRead &b) { return a.seconds < b.seconds; });
            CardRead r = runs[1];
            for (const CardRead &run : runs) r.failures += run.failures;
            CloseReader();
            const double bound = Bound(r.bytes, r.card_us, baud);
            std::fprintf(g_report, "  %-6s %8d %10ld %12.3f %14.3f %8.3f%s\n",
                         card_type == 11 ? "S50" : "S70", baud, r.bytes, r.seconds, bound,
                         r.seconds / bound, r.failures != 0 ? "   (failures!)" : "");
            ok &= r.failures == 0;
        }
    }
    bench.simulator.SetWireBaud(0);
    return ok;
}

namespace zc = zelkor::card;

// A dictionary of `size` keys; every sector of the card uses the last one.
std::vector<zc::Key> Dictionary(int size) {
    std::vector<zc::Key> keys;
    for (int i = 0; i < size; ++i)
        keys.push_back({0x2B, 0x7E, 0x15, static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i), 0x16});
    return keys;
}

// Data blocks 000, trailer 011: key B cannot be read out of the trailer, so
// the search has to try it as well.
constexpr std::array<std::uint8_t, 4> kKeyBHidden = {0x7F, 0x07, 0x88, 0x69};

struct ToolkitRun {
    double seconds = 0;
    zc::LinkCounters counters;
    long long card_us = 0;
    bool ok = false;
};

// One toolkit operation on a fresh session at `baud`, measured after the card
// is identified.
template <typename Operation>
ToolkitRun TimeToolkit(Bench &bench, std::shared_ptr<sim::Card> card, int baud, Operation operation) {
    ToolkitRun run;
    bench.model->PutCard(std::move(card));
    bench.simulator.SetWireBaud(baud);
    auto session = zc::ReaderSession::Open(kPort, baud == 0 ? 115200 : baud);
    if (!session) return run;
    zc::ReaderCardLink link(*session);
    const auto identity = link.Identify();
    if (!identity || !identity->kind) return run;
    link.ResetCounters();
    bench.model->ResetCardTime();
    const auto start = Clock::now();
    run.ok = operation(link, *identity);
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.counters = link.counters();
    run.card_us = bench.model->card_time_us();
    return run;
}

std::shared_ptr<sim::Card> SharedKeyCard(const zc::Key &key) {
    return std::make_shared<sim::MifareClassic>(sim::MifareClassic::Model::S50, std::array<std::uint8_t, 4>{0x5E, 0xA1, 0x0C, 0x33},
                                                key, key, kKeyBHidden);
}

bool RunKeySearch(Bench &bench, bool quick) {
    std::fprintf(g_report, "\nKey search with the card toolkit (16 sectors share the last key of the dictionary)\n");
    std::fprintf(g_report, "  %8s %6s %8s %10s %10s %10s %12s %8s\n", "bit/s", "keys", "auths", "bytes", "time (s)",
                 "bound (s)", "keys/s", "ratio");
    bool ok = true;
    for (const int baud : {9600, 115200}) {
        const int keys = quick ? 4 : baud == 9600 ? 40 : 200;
        const auto dictionary = Dictionary(keys);
        const ToolkitRun run = TimeToolkit(bench, SharedKeyCard(dictionary.back()), baud, [&](zc::ReaderCardLink &link, const zc::CardIdentity &) {
            return zc::SearchKeys(link, zc::CardKind::Classic1K, dictionary, {}, {}).complete;
        });
        const double bound = Bound(run.counters.wire_bytes, run.card_us, baud);
        const double auths = static_cast<double>(run.counters.authentications);
        std::fprintf(g_report, "  %8d %6d %8ld %10ld %10.3f %10.3f %5.1f/%-6.1f %8.3f%s\n", baud, keys,
                     run.counters.authentications, run.counters.wire_bytes, run.seconds, bound, auths / run.seconds,
                     auths / bound, bound / run.seconds, run.ok ? "" : "   (failed!)");
        ok &= run.ok;
    }
    std::fprintf(g_report, "  keys/s: measured/bound; ratio: bound time / measured time (goal >= 0.9)\n");

    const int position = quick ? 20 : 1000;
    const auto dictionary = Dictionary(position);
    const ToolkitRun run = TimeToolkit(bench, SharedKeyCard(dictionary.back()), 0, [&](zc::ReaderCardLink &link, const zc::CardIdentity &) {
        return zc::SearchKeys(link, zc::CardKind::Classic1K, dictionary, {}, {}).complete;
    });
    std::fprintf(g_report,
                 "  shared key at position %d (instant reader): %ld authentications, %ld re-selections, %ld exchanges%s\n",
                 position, run.counters.authentications, run.counters.reselects, run.counters.exchanges, run.ok ? "" : "   (failed!)");
    bench.simulator.SetWireBaud(0);
    return ok && run.ok;
}

bool RunDump(Bench &bench, bool quick) {
    std::fprintf(g_report, "\nWhole-card dump with known keys (card toolkit)\n");
    std::fprintf(g_report, "  %-6s %8s %10s %10s %10s %8s\n", "card", "bit/s", "bytes", "time (s)", "bound (s)", "ratio");
    bool ok = true;
    for (const int baud : {9600, 115200}) {
        for (const bool big : {false, true}) {
            if (quick && (baud == 9600 || big)) continue;
            std::shared_ptr<sim::Card> card = big ? std::shared_ptr<sim::Card>(sim::MakeDemoS70()) : sim::MakeDemoS50();
            const ToolkitRun run = TimeToolkit(bench, card, baud, [](zc::ReaderCardLink &link, const zc::CardIdentity &identity) {
                const zc::Key key{sim::kDemoKey};
                const std::vector<zc::SectorKeys> keys(static_cast<std::size_t>(zc::SectorCount(*identity.kind)), zc::SectorKeys{key, key});
                const zc::CardImage image = zc::ReadCard(link, identity, keys, {}, {});
                return !image.partial;
            });
            const double bound = Bound(run.counters.wire_bytes, run.card_us, baud);
            std::fprintf(g_report, "  %-6s %8d %10ld %10.3f %10.3f %8.3f%s\n", big ? "S70" : "S50", baud, run.counters.wire_bytes,
                         run.seconds, bound, run.seconds / bound, run.ok ? "" : "   (failed!)");
            ok &= run.ok;
        }
    }
    std::fprintf(g_report, "  ratio: measured time / bound (goal <= 1.1)\n");
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
    ok &= RunKeySearch(bench, quick);
    ok &= RunDump(bench, quick);
    ok &= RunIdle(quick ? 1 : 10);
    std::fflush(g_report);
    return ok ? 0 : 1;
}
