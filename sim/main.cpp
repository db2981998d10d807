// Standalone simulated reader: publishes its pseudo-terminal as COM<n> in a
// directory (for ZELKOR_PORT_DIR) and takes commands on standard input that
// change what is in the field. Serves until SIGINT, SIGTERM or "quit".
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <map>
#include <mutex>
#include <optional>
#include <utility>
#include <string>
#include <thread>

#include <poll.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include "sim/reader_model.h"
#include "sim/sample_cards.h"
#include "sim/simulator.h"

namespace {

const char kUsage[] =
    "usage: zelkor-sim [--version] [dir] [port]\n"
    "Serves a simulated card reader on a pseudo-terminal published as <dir>/COM<port>\n"
    "(default /tmp/zelkor-ports/COM3); point ZELKOR_PORT_DIR at <dir> to reach it.\n"
    "Commands on standard input change what is in the field.\n";

const char kHelp[] =
    "commands: s50 | s70 | mini | ul | cpu (put that card in the field), ul-ev1-20 | ul-ev1-41 | ntag213 | ntag215 | "
    "ntag216 (an UltraLight EV1 or NTAG), ntag213-pwd (an NTAG213 with pages 16 on behind its password), "
    "blank (a factory-fresh S50 "
    "with key FFFFFFFFFFFF, to restore a dump onto), none (take it away), "
    "unplug (pull the reader out), plug (connect it again), state, help, quit\n";

struct App {
    std::string dir;
    int port = 3;
    std::string link;
    std::shared_ptr<sim::ReaderModel> model = std::make_shared<sim::ReaderModel>();
    std::unique_ptr<sim::Simulator> simulator;
    std::shared_ptr<sim::MifareClassic> s50 = sim::MakeDemoS50();
    std::shared_ptr<sim::MifareClassic> s70 = sim::MakeDemoS70();
    std::shared_ptr<sim::MifareClassic> mini = sim::MakeDemoMini();
    std::shared_ptr<sim::MifareClassic> blank = sim::MakeBlankS50();
    std::shared_ptr<sim::UltraLight> ul = sim::MakeDemoUltraLight();
    std::shared_ptr<sim::CpuCard> cpu = sim::MakeDemoCpuCard();
    std::map<std::string, std::shared_ptr<sim::Card>> family;  // UltraLight EV1 and NTAG cards, by command
    std::mutex mutex;  // simulator and link, between the input thread and shutdown
    std::atomic<bool> stopping{false};
};

void Say(const std::string &text) {
    std::fputs(("zelkor-sim: " + text + "\n").c_str(), stdout);
    std::fflush(stdout);
}

std::string UidText(const sim::Card &card) {
    std::string out;
    char buf[4];
    for (std::uint8_t b : card.uid()) {
        std::snprintf(buf, sizeof buf, "%02X ", b);
        out += buf;
    }
    if (!out.empty()) out.pop_back();
    return out;
}

bool StartReader(App &app) {
    auto simulator = std::make_unique<sim::Simulator>(app.model);
    if (!simulator->Start() || !simulator->Publish(app.dir, app.port)) return false;
    app.simulator = std::move(simulator);
    return true;
}

void RemoveLink(const App &app) {
    // Only our own link: another simulator may have published the port since.
    char target[4096];
    const ssize_t n = ::readlink(app.link.c_str(), target, sizeof target - 1);
    if (n <= 0 || !app.simulator) return;
    target[n] = '\0';
    if (app.simulator->device_path() == target) ::unlink(app.link.c_str());
}

void Put(App &app, const std::shared_ptr<sim::Card> &card, const char *name) {
    app.model->PutCard(card);
    Say(std::string(name) + " card in the field, UID " + UidText(*card));
}

// The UltraLight family's commands: the card and its name.
std::optional<std::pair<std::shared_ptr<sim::Card>, const char *>> UltraLightOfWord(const std::string &word) {
    using Model = sim::UltraLight::Model;
    static const struct {
        const char *word;
        Model model;
        const char *name;
    } kinds[] = {{"ul-ev1-20", Model::Ev1Small, "UltraLight EV1 (20 pages)"},
                 {"ul-ev1-41", Model::Ev1Large, "UltraLight EV1 (41 pages)"},
                 {"ntag213", Model::Ntag213, "NTAG213"},
                 {"ntag215", Model::Ntag215, "NTAG215"},
                 {"ntag216", Model::Ntag216, "NTAG216"}};
    for (const auto &kind : kinds) {
        if (word == kind.word) return std::pair<std::shared_ptr<sim::Card>, const char *>{sim::MakeDemoUltraLight(kind.model), kind.name};
    }
    if (word == "ntag213-pwd") return std::pair<std::shared_ptr<sim::Card>, const char *>{sim::MakeProtectedNtag(), "NTAG213 (password from page 16)"};
    return std::nullopt;
}

// Returns false on "quit".
bool Execute(App &app, const std::string &line) {
    const auto first = line.find_first_not_of(" \t\r");
    const auto last = line.find_last_not_of(" \t\r");
    const std::string word = first == std::string::npos ? "" : line.substr(first, last - first + 1);
    std::lock_guard lock(app.mutex);
    if (word.empty()) return true;
    if (word == "s50") {
        Put(app, app.s50, "S50");
    } else if (word == "s70") {
        Put(app, app.s70, "S70");
    } else if (word == "mini") {
        Put(app, app.mini, "Mini");
    } else if (word == "blank") {
        Put(app, app.blank, "Blank S50");
    } else if (word == "ul") {
        Put(app, app.ul, "UltraLight");
    } else if (const auto family = UltraLightOfWord(word)) {
        // Each card is made once, so what was written onto it stays.
        auto &card = app.family[word];
        if (!card) card = family->first;
        Put(app, card, family->second);
    } else if (word == "cpu") {
        Put(app, app.cpu, "CPU");
    } else if (word == "none") {
        app.model->RemoveCard();
        Say("the field is empty");
    } else if (word == "unplug") {
        if (app.simulator && !app.simulator->unplugged()) app.simulator->Unplug();
        Say("reader unplugged (plug connects it again)");
    } else if (word == "plug") {
        if (app.simulator && !app.simulator->unplugged()) {
            Say("the reader is plugged in");
        } else {
            if (app.simulator) app.simulator->Stop();
            if (StartReader(app)) {
                Say("reader on " + app.simulator->device_path() + ", published as " + app.link);
            } else {
                Say("cannot create the pseudo-terminal");
            }
        }
    } else if (word == "state") {
        Say(app.model->Describe());
    } else if (word == "help") {
        std::fputs(kHelp, stdout);
        std::fflush(stdout);
    } else if (word == "quit") {
        return false;
    } else {
        Say("unknown command \"" + word + "\"; " + std::string(kHelp, sizeof kHelp - 2));
    }
    return true;
}

// Reads standard input line by line; on its end the reader keeps serving.
void InputLoop(App &app) {
    std::string pending;
    char buffer[256];
    while (!app.stopping) {
        pollfd pfd{STDIN_FILENO, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, 100);
        if (ready < 0 && errno != EINTR) return;
        if (ready <= 0) continue;
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return;
        pending.append(buffer, static_cast<std::size_t>(n));
        std::size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!Execute(app, line)) {
                ::kill(::getpid(), SIGTERM);
                return;
            }
        }
    }
}

}  // namespace

int main(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--version") {
            std::puts("zelkor-sim " ZELKOR_VERSION_TEXT);
            return 0;
        }
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "zelkor-sim: unknown option %s\n%s", arg.c_str(), kUsage);
            return 2;
        }
    }
    if (argc > 3) {
        std::fprintf(stderr, "zelkor-sim: too many arguments\n%s", kUsage);
        return 2;
    }
    App app;
    // Published absolute, so that the directory works from wherever a caller runs.
    std::error_code error;
    const std::filesystem::path dir = std::filesystem::absolute(argc > 1 ? argv[1] : "/tmp/zelkor-ports", error);
    app.dir = dir.lexically_normal().string();
    if (app.dir.size() > 1 && app.dir.back() == '/') app.dir.pop_back();
    app.port = argc > 2 ? std::atoi(argv[2]) : 3;
    if (error || app.port <= 0) {
        std::fprintf(stderr, "zelkor-sim: %s\n%s",
                     error ? "cannot make the directory absolute" : "the port number must be 1 or more", kUsage);
        return 2;
    }
    app.link = app.dir + "/COM" + std::to_string(app.port);
    ::mkdir(app.dir.c_str(), 0755);

    // Signals are taken by sigwait below, never by the worker threads.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    app.model->PutCard(app.s50);
    if (!StartReader(app)) {
        std::fprintf(stderr, "zelkor-sim: cannot create the pseudo-terminal or publish %s\n", app.link.c_str());
        return 1;
    }
    std::printf("zelkor-sim: reader on %s, published as %s (ZELKOR_PORT_DIR=%s)\n",
                app.simulator->device_path().c_str(), app.link.c_str(), app.dir.c_str());
    std::printf("zelkor-sim: S50 demo card in the field (keys 5A 3C 96 E1 0F 7B); %s", kHelp);
    std::fflush(stdout);

    std::thread input(InputLoop, std::ref(app));
    int received = 0;
    sigwait(&signals, &received);

    app.stopping = true;
    input.join();
    std::lock_guard lock(app.mutex);
    RemoveLink(app);
    if (app.simulator) app.simulator->Stop();
    return 0;
}
