// Fault campaign: every exchange command of the library against a simulated
// reader that splits, delays, garbles, mis-sizes or repeats its answers, or
// vanishes from the line. Each scenario checks the call's result, how long it
// took, the caller's buffers (guard bytes around them), which answer the call
// consumed, and that the session still works afterwards.
//
// The program is a driver: it spreads the scenarios over child processes of
// itself (--shard i/N), each with its own simulator, port directory and
// library session, and prints one summary line. A scenario that fails is run
// once more on a fresh reader (a starved process can miss an answer window);
// passes on that second run are listed and counted in the summary.
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/reader_fixture.h"
#include "sim/simulator.h"
#include "zelkor.h"

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;
using sim::Bytes;
using testing_support::Hex;
using testing_support::kSlack;

constexpr int kPort = 7;
constexpr int kGuard = 16;
constexpr unsigned char kCanary = 0xCD;
// Time bounds leave room for a busy machine and sanitizers: a check of
// "returned at its answer" only has to tell that apart from a 1000 ms wait.
constexpr int kMarginMs = 400 * kSlack;      // scheduling slack on top of a documented wait
// A send after a command that gave up may first wait out the rest of that
// command's 2000 ms no-answer window.
constexpr int kNoAnswerWindowMs = 1000;
constexpr int kPromptMs = kSlack > 1 ? 2500 : 900;  // a call that must not wait out a time-out
constexpr int kSettleMs = 30;       // after the last scripted byte, before the next check
constexpr int kSplitPauseMs = 3;

// ---- Caller buffers -------------------------------------------------------

struct BufferShape {
    int size = 0;
    Bytes input;  // empty: an output buffer, filled with canary bytes
};

// A caller buffer with guard bytes on both sides.
struct Buffer {
    explicit Buffer(const BufferShape &shape) : size(shape.size), bytes(kGuard * 2 + shape.size, kCanary) {
        std::copy(shape.input.begin(), shape.input.end(), bytes.begin() + kGuard);
    }
    unsigned char *data() { return bytes.data() + kGuard; }
    Bytes Content() const { return Bytes(bytes.begin() + kGuard, bytes.begin() + kGuard + size); }
    bool GuardsIntact() const {
        return std::all_of(bytes.begin(), bytes.begin() + kGuard, [](auto b) { return b == kCanary; }) &&
               std::all_of(bytes.end() - kGuard, bytes.end(), [](auto b) { return b == kCanary; });
    }
    int size;
    Bytes bytes;
};

using Buffers = std::vector<Buffer>;
// Given the data of the answer frame a command evaluates last, updates the
// images of its output buffers and returns whether the command succeeds. A
// null function: the command uses no answer data and succeeds on any good answer.
using Expect = std::function<bool(const Bytes &data, std::vector<Bytes> &images)>;

struct Command {
    std::string name;
    int wait_ms = 1000;  // longest documented duration of a failing call
    int base_ms = 0;     // pauses and gaps of a call answered at once
    // Per exchange, the data of each good answer frame the reader sends.
    std::vector<std::vector<Bytes>> replies;
    std::vector<BufferShape> buffers;
    std::function<int(Buffers &)> call;
    int success_value = 1;
    Expect expect;
    bool zero_on_failure = false;  // ReadWallet stores 0 after a failed exchange
};

Bytes Seq(int count, int first) {
    Bytes out;
    for (int i = 0; i < count; ++i) out.push_back(static_cast<std::uint8_t>(first + i));
    return out;
}

// Answer data for commands that read none: unique per command, so that a
// consumed answer can be told apart.
Bytes Tag(int id) { return {0xA0, static_cast<std::uint8_t>(id)}; }

Bytes IntBytes(int value) {
    Bytes out(sizeof value);
    std::memcpy(out.data(), &value, sizeof value);
    return out;
}

// Expected card_info image: canary-filled, with the fields written.
Bytes CardInfoImage(const Bytes &before, int card_type, bool write_type, const Bytes &uid) {
    card_info info{};
    std::memcpy(&info, before.data(), sizeof info);
    if (write_type) info.card_type = card_type;
    std::copy(uid.begin(), uid.end(), info.uid);
    Bytes out(sizeof info);
    std::memcpy(out.data(), &info, sizeof info);
    return out;
}

int CardTypeCode(std::uint8_t type) {
    switch (type) {
    case 0x00: return 10;
    case 0x04: return 11;
    case 0x02: return 12;
    case 0x08: return 13;
    case 0x42: return 14;
    case 0x44: return 15;
    default: return 16;
    }
}

const Bytes kKey = Hex("5A 3C 96 E1 0F 7B");
const Bytes kKeyB = Hex("B0 B1 B2 B3 B4 B5");
const Bytes kNewKey = Hex("11 22 33 44 55 66");
const Bytes kTransportAccess = Hex("FF 07 80 69");

std::vector<Command> MakeCommands() {
    std::vector<Command> list;
    int id = 0;
    auto plain = [&](std::string name, std::function<int()> fn) {
        Command c;
        c.name = std::move(name);
        c.replies = {{Tag(++id)}};
        c.call = [fn](Buffers &) { return fn(); };
        list.push_back(std::move(c));
    };
    plain("FindCard", [] { return FindCard(); });
    {
        Command c;
        c.name = "WakeUp";
        c.replies = {{Hex("04 00")}};
        c.call = [](Buffers &) { return WakeUp(); };
        c.success_value = 11;
        c.expect = [](const Bytes &d, std::vector<Bytes> &) { return !d.empty(); };
        list.push_back(c);
    }
    plain("SelectCard", [] { return SelectCard(0x93); });
    {
        Command c;
        c.name = "Conflict";
        c.replies = {{Hex("11 22 33 44 44")}};
        c.buffers = {{static_cast<int>(sizeof(card_info)), {}}};
        c.call = [](Buffers &b) { return Conflict(reinterpret_cast<card_info *>(b[0].data())); };
        c.expect = [](const Bytes &d, std::vector<Bytes> &img) {
            if (d.size() < 4 || d[0] == 0x88) return false;
            img[0] = CardInfoImage(img[0], 0, false, Bytes(d.begin(), d.begin() + 4));
            return true;
        };
        list.push_back(c);
    }
    {
        Command c;
        c.name = "GetCardInfo";
        c.replies = {{Hex("04 A1 B2 C3 D4")}};
        c.buffers = {{static_cast<int>(sizeof(card_info)), {}}};
        c.call = [](Buffers &b) { return GetCardInfo(reinterpret_cast<card_info *>(b[0].data())); };
        c.expect = [](const Bytes &d, std::vector<Bytes> &img) {
            if (d.empty()) return false;
            const int code = CardTypeCode(d[0]);
            const std::size_t uid = code == 10 ? 6 : 4;
            if (d.size() < 1 + uid) return false;
            img[0] = CardInfoImage(img[0], code, true, Bytes(d.begin() + 1, d.begin() + 1 + static_cast<long>(uid)));
            return true;
        };
        list.push_back(c);
    }
    {
        Command c;
        c.name = "ManualCard";
        c.wait_ms = 2000;
        c.base_ms = 100;
        c.replies = {{Tag(++id), Hex("04 E1 E2 E3 E4")}};
        c.buffers = {{static_cast<int>(sizeof(card_info)), {}}};
        c.call = [](Buffers &b) { return ManualCard(reinterpret_cast<card_info *>(b[0].data())); };
        c.expect = [](const Bytes &d, std::vector<Bytes> &img) {
            if (d.size() < 5) return false;
            img[0] = CardInfoImage(img[0], CardTypeCode(d[0]), true, Bytes(d.begin() + 1, d.begin() + 5));
            return true;
        };
        list.push_back(c);
    }
    plain("ComposeFindCard", [] { return ComposeFindCard(); });
    plain("PauseCard", [] { return PauseCard(); });
    plain("AutoFindCard(1)", [] { return AutoFindCard(1); });
    plain("AutoFindCard(0)", [] { return AutoFindCard(0); });
    plain("BuzzerOn(1)", [] { return BuzzerOn(1); });
    plain("BuzzerOn(0)", [] { return BuzzerOn(0); });
    plain("AntennaOff", [] { return AntennaOff(); });
    {
        Command c;
        c.name = "GetReaderId";
        c.replies = {{Hex("20 26 12 07 00 00 31 5A")}};
        c.buffers = {{120, {}}, {static_cast<int>(sizeof(int)), {}}};
        c.call = [](Buffers &b) { return GetReaderId(b[0].data(), reinterpret_cast<int *>(b[1].data())); };
        c.expect = [](const Bytes &d, std::vector<Bytes> &img) {
            const int n = std::min(static_cast<int>(d.size()), 120);
            std::copy(d.begin(), d.begin() + n, img[0].begin());
            img[1] = IntBytes(n);
            return true;
        };
        list.push_back(c);
    }
    plain("SetBaudRate", [] { return SetBaudRate(2); });
    plain("ReadReader", [] { return ReadReader(1, 2); });
    {
        Command c;
        c.name = "SendM1Command";
        c.replies = {{Tag(++id)}};
        c.buffers = {{3, Hex("01 04 00")}};
        c.call = [](Buffers &b) { return SendM1Command(b[0].data(), 3); };
        list.push_back(c);
    }
    {
        Command c;
        c.name = "CheckKey";
        c.replies = {{Tag(++id)}};
        c.buffers = {{6, kKey}};
        c.call = [](Buffers &b) { return CheckKey(11, 0, 0, 4, 0, b[0].data()); };
        list.push_back(c);
    }
    auto block_read = [&](std::string name, int first, std::function<int(Buffers &)> fn) {
        Command c;
        c.name = std::move(name);
        c.replies = {{Seq(16, first)}};
        c.buffers = {{16, {}}, {6, kKey}};
        c.call = std::move(fn);
        c.expect = [](const Bytes &d, std::vector<Bytes> &img) {
            if (d.size() < 16) return false;
            img[0] = Bytes(d.begin(), d.begin() + 16);
            return true;
        };
        list.push_back(c);
    };
    block_read("ReadBlock", 0x40, [](Buffers &b) { return ReadBlock(0, 0, 4, 11, b[0].data()); });
    block_read("ComposeRead", 0x60, [](Buffers &b) {
        return ComposeRead(0, 0, 4, 11, b[0].data(), KeyA, reinterpret_cast<const char *>(b[1].data()));
    });
    {
        Command c;
        c.name = "WriteBlock";
        c.replies = {{Tag(++id)}};
        c.buffers = {{16, Seq(16, 0x30)}};
        c.call = [](Buffers &b) { return WriteBlock(0, 0, 4, 11, b[0].data()); };
        list.push_back(c);
    }
    {
        Command c;
        c.name = "ComposeWrite";
        c.replies = {{Tag(++id)}};
        c.buffers = {{16, Seq(16, 0x80)}, {6, kKey}};
        c.call = [](Buffers &b) {
            return ComposeWrite(0, 0, 4, 11, b[0].data(), KeyB, reinterpret_cast<const char *>(b[1].data()));
        };
        list.push_back(c);
    }
    auto wallet = [&](std::string name, int amount, std::function<int(Buffers &)> fn) {
        Command c;
        c.name = std::move(name);
        c.replies = {{Tag(++id)}};
        c.buffers = {{4, IntBytes(amount)}};
        c.call = std::move(fn);
        list.push_back(c);
    };
    wallet("WalletInit", 1000, [](Buffers &b) { return WalletInit(0, 0, 5, 11, b[0].data()); });
    wallet("WalletAdd", 100, [](Buffers &b) { return WalletAdd(0, 0, 5, 11, b[0].data()); });
    wallet("WalletDec", 10, [](Buffers &b) { return WalletDec(1, 1, 2, 11, b[0].data()); });
    {
        Command c;
        c.name = "ReadWallet";
        c.replies = {{Hex("10 27 00 00")}};
        c.buffers = {{4, {}}};
        c.call = [](Buffers &b) { return ReadWallet(0, 0, 5, 11, b[0].data()); };
        c.expect = [](const Bytes &d, std::vector<Bytes> &img) {
            if (d.size() < 4) return false;
            img[0] = Bytes(d.begin(), d.begin() + 4);
            return true;
        };
        c.zero_on_failure = true;
        list.push_back(c);
    }
    const Bytes trailer = Hex("00 00 00 00 00 00 FF 07 80 6A FF FF FF FF FF FF");
    {
        Command c;
        c.name = "ReadCtrlWord";
        c.replies = {{trailer}};
        c.buffers = {{6, kKey}, {4, {}}};
        c.call = [](Buffers &b) { return ReadCtrlWord(1, b[0].data(), b[1].data()); };
        c.expect = [](const Bytes &d, std::vector<Bytes> &img) {
            if (d.size() < 10) return false;
            img[1] = Bytes(d.begin() + 6, d.begin() + 10);
            return true;
        };
        list.push_back(c);
    }
    {
        Command c;
        c.name = "CheckCtrlKey";
        c.replies = {{Tag(++id)}};
        c.buffers = {{6, kKey}};
        c.call = [](Buffers &b) { return CheckCtrlKey(true, 1, b[0].data(), 0x10); };
        list.push_back(c);
    }
    {
        Command c;
        c.name = "ModifyKey";
        c.wait_ms = 4 * 1000 + 3 * 50;
        c.base_ms = 3 * 50;
        c.replies = {{Tag(++id)}, {Tag(++id)}, {trailer}, {Tag(++id)}};
        c.buffers = {{6, kNewKey}, {6, kKey}, {6, kKeyB}};
        c.call = [](Buffers &b) { return ModifyKey(1, b[0].data(), b[1].data(), b[2].data()); };
        list.push_back(c);
    }
    {
        Command c;
        c.name = "ModifyControl";
        c.wait_ms = 4 * 1000 + 2 * 100;
        c.base_ms = 2 * 100;
        c.replies = {{Tag(++id)}, {Tag(++id)}, {trailer}, {Tag(++id)}};
        c.buffers = {{6, kKey}, {6, kKeyB}, {4, kTransportAccess}};
        c.call = [](Buffers &b) { return ModifyControl(1, b[0].data(), b[1].data(), b[2].data()); };
        list.push_back(c);
    }
    plain("CosActivation", [] { return CosActivation(); });
    plain("CosDeactive", [] { return CosDeactive(); });
    {
        Command c;
        c.name = "SendCosCommand";
        c.replies = {{Hex("3B 1C 55 0A 90 8E 21 07 90 00")}};
        c.buffers = {{5, Hex("00 84 00 00 08")}};
        c.call = [](Buffers &b) { return SendCosCommand(b[0].data(), 5); };
        list.push_back(c);
    }
    {
        Command c;
        c.name = "Exauthentication";
        c.replies = {{Hex("90 00")}};
        c.buffers = {{8, Seq(8, 0x71)}};
        c.call = [](Buffers &b) { return Exauthentication(b[0].data(), 8, 1); };
        list.push_back(c);
    }
    return list;
}

// ---- Scenarios ------------------------------------------------------------

enum class Kind {
    kSplit,                  // the last answer cut at byte `param`
    kDelay,                  // the last answer `param` ms late
    kGarbageBeforeApart,     // non-frame bytes, then the answer in a later write
    kGarbageBeforeTogether,  // non-frame bytes and the answer in one write
    kGarbageAfterApart,      // the answer, then non-frame bytes in a later write
    kGarbageAfterTogether,   // the answer and non-frame bytes in one write
    kLengthOver,             // length field claims more bytes than sent
    kLengthUnder,            // length field claims fewer bytes than sent: the frame ends early
    kLongAnswer,             // consistent frame with far more data than needed
    kEmptyAnswer,            // consistent frame with no data at all
    kErrorStatus,            // status 0x01, then non-frame bytes: the refusal ends the call at once
    kFlood,                  // a frame announcing 3000 bytes, all sent: more than any buffer holds
    kLateBeforeSend,         // the previous command's late answer lands just before the send
    kLateStraddlingSend,     // a repeated answer of the previous command straddles the send
    kLateDuringSend,         // the previous command gave up; its answer comes just after the call began
    kGlued,                  // stray byte before each answer frame, a refusal glued after, cut at byte `param`
    kUnplugBefore,
    kUnplugDuring,
    kUnplugAfter,
    kReopenAtOnce,  // CloseReader and OpenReader back to back, then the command
};

struct Scenario {
    std::string name;
    const Command *command = nullptr;
    Kind kind = Kind::kSplit;
    int param = 0;
    int cost_ms = 0;  // estimate, to balance the shards
};

const char *KindName(Kind kind) {
    switch (kind) {
    case Kind::kSplit: return "split@";
    case Kind::kDelay: return "delay";
    case Kind::kGarbageBeforeApart: return "garbage-before-apart";
    case Kind::kGarbageBeforeTogether: return "garbage-before-together";
    case Kind::kGarbageAfterApart: return "garbage-after-apart";
    case Kind::kGarbageAfterTogether: return "garbage-after-together";
    case Kind::kLengthOver: return "length-over";
    case Kind::kLengthUnder: return "length-under";
    case Kind::kLongAnswer: return "long-answer";
    case Kind::kEmptyAnswer: return "empty-answer";
    case Kind::kErrorStatus: return "error-status-then-upload";
    case Kind::kFlood: return "flood";
    case Kind::kLateBeforeSend: return "late-answer-before-send";
    case Kind::kLateStraddlingSend: return "late-answer-straddling-send";
    case Kind::kLateDuringSend: return "late-answer-during-send";
    case Kind::kGlued: return "glued@";
    case Kind::kUnplugBefore: return "unplug-before";
    case Kind::kUnplugDuring: return "unplug-during";
    case Kind::kUnplugAfter: return "unplug-after";
    case Kind::kReopenAtOnce: return "reopen-at-once";
    }
    return "?";
}

Bytes Frame(const Bytes &data) { return sim::EncodeAnswer(0x00, data); }

const Bytes kGarbage = Hex("A5 5A 13 37");
const Bytes kStray = Hex("00");
const Bytes kRefusal = Hex("55 55 00 00 00 02 0B 09");

// Every answer frame of the command's last exchange with a stray byte before
// it, then a refusal: all on the line back to back.
Bytes GluedStream(const std::vector<Bytes> &frames_data) {
    Bytes out;
    for (const Bytes &d : frames_data) {
        out.insert(out.end(), kStray.begin(), kStray.end());
        const Bytes f = sim::EncodeAnswer(0x00, d);
        out.insert(out.end(), f.begin(), f.end());
    }
    out.insert(out.end(), kRefusal.begin(), kRefusal.end());
    return out;
}

Bytes LastData(const Command &c) { return c.replies.back().back(); }

Bytes LongData(const Command &c) {
    Bytes d = LastData(c);
    while (d.size() < 150) d.push_back(static_cast<std::uint8_t>(0xE0 + d.size() % 16));
    return d;
}

bool ExpectedSuccess(const Scenario &s) {
    const Command &c = *s.command;
    std::vector<Bytes> scratch;
    for (const BufferShape &b : c.buffers) scratch.push_back(Bytes(static_cast<std::size_t>(b.size), kCanary));
    auto accepts = [&](const Bytes &d) { return !c.expect || c.expect(d, scratch); };
    switch (s.kind) {
    case Kind::kDelay: return s.param < 1000;
    case Kind::kEmptyAnswer: return accepts({});
    case Kind::kLengthUnder: {
        // The frame ends one byte early: its last data byte is read as the
        // checksum and the real checksum is upload data.
        const Bytes d = LastData(c);
        return accepts(Bytes(d.begin(), d.end() - 1));
    }
    case Kind::kLengthOver:
    case Kind::kErrorStatus:
    case Kind::kFlood:
    case Kind::kUnplugBefore:
    case Kind::kUnplugDuring: return false;
    case Kind::kLongAnswer: return accepts(LongData(c));
    default: return accepts(LastData(c));
    }
}

std::vector<Scenario> MakeScenarios(const std::vector<Command> &commands) {
    std::vector<Scenario> list;
    for (const Command &c : commands) {
        auto add = [&](Kind kind, int param) {
            Scenario s;
            s.command = &c;
            s.kind = kind;
            s.param = param;
            const bool numbered = kind == Kind::kSplit || kind == Kind::kDelay || kind == Kind::kGlued;
            s.name = c.name + "/" + KindName(kind) + (numbered ? std::to_string(param) : "");
            const int exchanges = static_cast<int>(c.replies.size());
            s.cost_ms = 40 + c.base_ms + (exchanges - 1) * 5;
            if (!ExpectedSuccess(s)) s.cost_ms += kind == Kind::kUnplugBefore ? 1000 : c.wait_ms;
            if (kind == Kind::kDelay) s.cost_ms += param + (param > 1000 ? 1000 : 0);
            if (kind == Kind::kLateBeforeSend) s.cost_ms += 1350;
            if (kind == Kind::kLateStraddlingSend) s.cost_ms += 800;
            if (kind == Kind::kLateDuringSend) s.cost_ms += 1350;
            if (kind == Kind::kLengthOver || kind == Kind::kFlood) s.cost_ms += 1000;
            list.push_back(std::move(s));
        };
        const std::size_t frame_size = Frame(LastData(c)).size();
        for (std::size_t cut = 1; cut < frame_size; ++cut) add(Kind::kSplit, static_cast<int>(cut));
        const std::size_t glued_size = GluedStream(c.replies.back()).size();
        for (std::size_t cut = 0; cut < glued_size; ++cut) add(Kind::kGlued, static_cast<int>(cut));
        // Late or not by a margin a busy machine cannot blur.
        for (int delay : {0, 100, 500, 700, 1300}) add(Kind::kDelay, delay);
        for (Kind kind : {Kind::kGarbageBeforeApart, Kind::kGarbageBeforeTogether, Kind::kGarbageAfterApart,
                          Kind::kGarbageAfterTogether, Kind::kLengthOver, Kind::kLengthUnder, Kind::kLongAnswer,
                          Kind::kEmptyAnswer, Kind::kErrorStatus, Kind::kFlood, Kind::kLateBeforeSend, Kind::kLateStraddlingSend, Kind::kLateDuringSend,
                          Kind::kUnplugBefore, Kind::kUnplugDuring, Kind::kUnplugAfter, Kind::kReopenAtOnce}) {
            add(kind, 0);
        }
    }
    return list;
}

// ---- The simulated reader -------------------------------------------------

// Answers each frame with the next queued reaction; frames nobody scripted
// get no answer.
class ScriptedReader : public sim::Responder {
public:
    sim::Reaction Respond(const sim::Command &) override {
        std::lock_guard lock(mutex_);
        if (queue_.empty()) return sim::Silence();
        sim::Reaction r = std::move(queue_.front());
        queue_.erase(queue_.begin());
        return r;
    }
    void Push(sim::Reaction r) {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(r));
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        queue_.clear();
    }

private:
    std::mutex mutex_;
    std::vector<sim::Reaction> queue_;
};

class Rig {
public:
    ~Rig() {
        CloseReader();
        sim_.reset();
        if (!dir_.empty()) {
            ::unlink((dir_ + "/COM" + std::to_string(kPort)).c_str());
            ::rmdir(dir_.c_str());
        }
    }
    bool Start() {
        char dir[] = "/tmp/zelkor-fault-XXXXXX";
        if (::mkdtemp(dir) == nullptr) return false;
        dir_ = dir;
        ::setenv("ZELKOR_PORT_DIR", dir, 1);
        return Replug();
    }
    // A fresh simulator on the same port, and the session reopened on it.
    bool Replug() {
        CloseReader();
        reader_->Clear();
        sim_.reset();
        sim_ = std::make_unique<sim::Simulator>(reader_);
        return sim_->Start() && sim_->Publish(dir_, kPort) && OpenReader(kPort, 9600, 8, 0, 0) == 1;
    }
    sim::Simulator &sim() { return *sim_; }
    ScriptedReader &reader() { return *reader_; }

private:
    std::string dir_;
    std::shared_ptr<ScriptedReader> reader_ = std::make_shared<ScriptedReader>();
    std::unique_ptr<sim::Simulator> sim_;
};

long MsSince(Clock::time_point t) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

void SleepMs(long ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

Bytes RecvData() {
    unsigned char buffer[1024];
    const int n = GetReaderRecvData(buffer);
    return Bytes(buffer, buffer + std::clamp(n, 0, 1024));
}

std::string Hexed(const Bytes &b) { return testing_support::ToHex(b); }

// Runs FindCard against a unique answer; empty when it consumed exactly that
// answer quickly. `settle_ms`: how long its send may first wait for the answer
// of a command that gave up.
std::string CheckFindCard(Rig &rig, const char *what, int serial, long settle_ms = 0) {
    // One data byte: a length field whose low byte is 3, as a select answer has.
    const Bytes answer = Frame({static_cast<std::uint8_t>(serial)});
    rig.reader().Push(sim::Raw(answer));
    const auto start = Clock::now();
    const int result = FindCard();
    const long took = MsSince(start);
    if (result != 1) return std::string(what) + ": FindCard returned " + std::to_string(result);
    if (took > kPromptMs + settle_ms) return std::string(what) + ": FindCard took " + std::to_string(took) + " ms";
    const Bytes got = RecvData();
    if (got != answer) return std::string(what) + ": FindCard consumed " + Hexed(got);
    return {};
}

int g_serial = 0;

// Waits until the library has read `bytes` (the latest answer bytes it holds).
bool AwaitReceived(const Bytes &bytes) {
    for (int i = 0; i < 400; ++i) {
        if (RecvData() == bytes) return true;
        SleepMs(5);
    }
    return false;
}

// Waits until the simulator wrote every scripted byte and the library had
// time to read them. Bytes still on their way when the next command flushes
// the port's input can be held back by the pseudo-terminal until the next
// write, and would then land in the middle of the next answer.
void AwaitQuietLine(Rig &rig) {
    for (int i = 0; i < 400 && rig.sim().PendingOutgoing() > 0; ++i) SleepMs(5);
    SleepMs(kSettleMs);
}

// Runs one scenario; returns an empty string when it passed, else the reason.
std::string RunScenario(Rig &rig, const Scenario &s) {
    const Command &c = *s.command;
    const bool success = ExpectedSuccess(s);
    rig.reader().Clear();
    rig.sim().ClearFrames();

    // What happened before the call.
    int first_delay = 0;
    int settle_ms = 0;  // the call's send first waits this long for a late answer
    if (s.kind == Kind::kLateDuringSend) {
        // FindCard gives up; its answer comes 300 ms later, while the call's
        // send waits for it.
        rig.reader().Push(sim::Raw(Frame({0x0D, 0x03}), 1300));
        if (FindCard() != 0) return "late answer: the previous FindCard did not time out";
        settle_ms = 300;
    } else if (s.kind == Kind::kLateBeforeSend) {
        // FindCard gives up; its answer comes 300 ms after that, before the next send.
        const Bytes late = Frame({0x0D, 0x01});
        rig.reader().Push(sim::Raw(late, 1300));
        if (FindCard() != 0) return "late answer: the previous FindCard did not time out";
        if (!AwaitReceived(late)) return "late answer: never arrived";
    } else if (s.kind == Kind::kLateStraddlingSend) {
        // FindCard succeeds; the reader repeats its answer, and the repetition
        // is cut in two by the next send.
        const Bytes p = Frame({0x0D, 0x02});
        sim::Reaction r;
        r.pieces = {{0, p}, {40, Bytes(p.begin(), p.begin() + 4)}, {400, Bytes(p.begin() + 4, p.end())}};
        rig.reader().Push(r);
        if (FindCard() != 1) return "straddle: the previous FindCard failed";
        if (!AwaitReceived(Bytes(p.begin(), p.begin() + 4))) return "straddle: the repetition never began";
        first_delay = 600;  // well after the tail, so the two never share a read
    } else if (s.kind == Kind::kReopenAtOnce) {
        if (CloseReader() != 1) return "CloseReader returned 0";
        if (OpenReader(kPort, 9600, 8, 0, 0) != 1) return "OpenReader at once after CloseReader returned 0";
    } else if (s.kind == Kind::kUnplugBefore) {
        rig.sim().Unplug();
        for (int i = 0; i < 100 && !rig.sim().unplugged(); ++i) SleepMs(5);
        SleepMs(20);
    }
    rig.sim().ClearFrames();

    // The reader's reactions: all exchanges but the last answer well.
    const std::size_t exchanges = c.replies.size();
    for (std::size_t e = 0; e + 1 < exchanges; ++e) {
        sim::Reaction r;
        for (const Bytes &d : c.replies[e]) r.pieces.push_back({r.pieces.empty() ? (e == 0 ? first_delay : 0) : 100, Frame(d)});
        rig.reader().Push(r);
    }
    sim::Reaction last;
    const std::vector<Bytes> &frames = c.replies.back();
    for (std::size_t f = 0; f + 1 < frames.size(); ++f) last.pieces.push_back({0, Frame(frames[f])});
    const int gap = last.pieces.empty() ? 0 : 100;
    Bytes data = LastData(c);
    if (s.kind == Kind::kLongAnswer) data = LongData(c);
    if (s.kind == Kind::kEmptyAnswer) data.clear();
    Bytes frame = Frame(data);
    Bytes consumed = frame;  // what GetReaderRecvData must show after a success
    Bytes evaluated = data;  // the answer data the command judges
    auto piece = [&](int delay, Bytes bytes) { last.pieces.push_back({delay, std::move(bytes)}); };
    switch (s.kind) {
    case Kind::kSplit: {
        const auto cut = static_cast<long>(s.param);
        piece(gap, Bytes(frame.begin(), frame.begin() + cut));
        piece(kSplitPauseMs, Bytes(frame.begin() + cut, frame.end()));
        break;
    }
    case Kind::kGarbageBeforeApart:
        piece(gap, kGarbage);
        piece(20, frame);
        break;
    case Kind::kGlued: {
        const Bytes stream = GluedStream(frames);
        const auto cut = static_cast<long>(s.param);
        last.pieces.clear();
        piece(0, Bytes(stream.begin(), stream.begin() + cut));
        piece(kSplitPauseMs, Bytes(stream.begin() + cut, stream.end()));
        break;
    }
    case Kind::kGarbageBeforeTogether: {
        Bytes both = kGarbage;
        both.insert(both.end(), frame.begin(), frame.end());
        piece(gap, both);
        break;
    }
    case Kind::kGarbageAfterApart:
        piece(gap, frame);
        piece(50, kGarbage);
        break;
    case Kind::kGarbageAfterTogether: {
        Bytes both = frame;
        both.insert(both.end(), kGarbage.begin(), kGarbage.end());
        piece(gap, both);
        break;
    }
    case Kind::kLengthOver:
    case Kind::kLengthUnder: {
        const int claimed = frame[4] * 256 + frame[5] + (s.kind == Kind::kLengthOver ? 5 : -1);
        frame[4] = static_cast<std::uint8_t>(claimed >> 8);
        frame[5] = static_cast<std::uint8_t>(claimed);
        piece(gap, frame);
        if (s.kind == Kind::kLengthUnder) {
            consumed = Bytes(frame.begin(), frame.end() - 1);
            evaluated = Bytes(data.begin(), data.end() - 1);
        }
        break;
    }
    case Kind::kErrorStatus: {
        Bytes refused = frame;
        refused[6] = 0x01;
        refused.back() = sim::XorOf(refused, refused.size() - 1);
        piece(gap, refused);
        piece(20, kGarbage);
        break;
    }
    case Kind::kFlood: {
        Bytes flood = Hex("55 55 00 00 0B B8 00");
        while (flood.size() < 3006) flood.push_back(static_cast<std::uint8_t>(flood.size() * 7));
        for (std::size_t at = 0; at < flood.size(); at += 600)
            piece(at == 0 ? gap : 5, Bytes(flood.begin() + static_cast<long>(at),
                                           flood.begin() + static_cast<long>(std::min(at + 600, flood.size()))));
        break;
    }
    case Kind::kUnplugDuring:
        piece(gap, Bytes(frame.begin(), frame.begin() + static_cast<long>(frame.size() / 2)));
        last.unplug = true;
        break;
    case Kind::kUnplugAfter:
        piece(gap, frame);
        piece(300, {});  // room for a busy receive thread to read the answer before the hang-up
        last.unplug = true;
        break;
    default: piece(gap, frame); break;
    }
    if (s.kind == Kind::kDelay) last.pieces.front().delay_ms += s.param;
    if (exchanges == 1) last.pieces.front().delay_ms += first_delay;
    int span = 0;
    for (const sim::Piece &p : last.pieces) span += p.delay_ms;
    rig.reader().Push(last);

    // The call.
    Buffers buffers;
    for (const BufferShape &b : c.buffers) buffers.emplace_back(b);
    std::vector<Bytes> images;
    for (const Buffer &b : buffers) images.push_back(b.Content());
    const auto start = Clock::now();
    const int result = c.call(buffers);
    const long took = MsSince(start);
    const Bytes recv = RecvData();

    std::string why;
    auto fail = [&](const std::string &text) {
        if (why.empty()) why = text;
    };
    if (success) {
        if (c.expect) c.expect(evaluated, images);
        if (result != c.success_value)
            fail("returned " + std::to_string(result) + ", expected " + std::to_string(c.success_value));
        const long bound = c.base_ms + span + first_delay + settle_ms + kMarginMs;
        if (took > std::min<long>(bound, c.wait_ms + kMarginMs))
            fail("succeeded after " + std::to_string(took) + " ms");
        // The refusal glued after the answer may have been read by now, as far as it arrived.
        const bool refusal_read = s.kind == Kind::kGlued && !recv.empty() && recv.size() <= kRefusal.size() &&
                                  std::equal(recv.begin(), recv.end(), kRefusal.begin());
        if (result == c.success_value && recv != consumed && !refusal_read) fail("consumed " + Hexed(recv) + " instead of " + Hexed(consumed));
    } else {
        if (result != 0) fail("returned " + std::to_string(result) + ", expected 0");
        // A refusal ends the call as soon as it arrives.
        const long limit = s.kind == Kind::kErrorStatus ? c.base_ms + span + first_delay + kMarginMs : c.wait_ms + kMarginMs;
        if (took > limit) fail("failed only after " + std::to_string(took) + " ms");
        if (c.zero_on_failure) images[0] = Bytes(4, 0);
    }
    for (std::size_t i = 0; i < buffers.size(); ++i) {
        if (!buffers[i].GuardsIntact()) fail("buffer " + std::to_string(i) + " written past its size");
        if (buffers[i].Content() != images[i])
            fail("buffer " + std::to_string(i) + " holds " + Hexed(buffers[i].Content()) + ", expected " + Hexed(images[i]));
    }
    const bool unplugged = s.kind == Kind::kUnplugBefore || s.kind == Kind::kUnplugDuring || s.kind == Kind::kUnplugAfter;
    if (!unplugged && rig.sim().FrameCount() != exchanges)
        fail(std::to_string(rig.sim().FrameCount()) + " frames sent, expected " + std::to_string(exchanges));

    // Afterwards: a command sent at once gets its own answer, not the late one.
    if (s.kind == Kind::kDelay && !success) {
        if (std::string e = CheckFindCard(rig, "follow-up", ++g_serial, kNoAnswerWindowMs); !e.empty()) fail(e);
    }
    if (unplugged) {
        const auto close_start = Clock::now();
        CloseReader();
        if (MsSince(close_start) > kPromptMs) fail("CloseReader took " + std::to_string(MsSince(close_start)) + " ms");
        // The vanished device cannot be opened again; a fresh one can.
        if (rig.sim().unplugged() && OpenReader(kPort, 9600, 8, 0, 0) != 0) fail("OpenReader on the vanished device succeeded");
        if (!rig.Replug()) return why.empty() ? "reopening on a fresh simulator failed" : why;
    }
    // Let every scripted byte land, then the session must still work.
    SleepMs(c.base_ms + span + first_delay + kSettleMs - MsSince(start));
    if (!rig.sim().unplugged()) AwaitQuietLine(rig);
    if (std::string e = CheckFindCard(rig, "afterwards", ++g_serial, success ? 0 : kNoAnswerWindowMs); !e.empty()) fail(e);
    return why;
}

// ---- Driver ---------------------------------------------------------------

struct Options {
    int shard = -1;
    int shards = 12;
    std::string only;
    bool list = false;
    bool trace = false;  // one shard only: keep the library's trace on standard output
};

// Longest scenarios first, each to the least loaded shard.
std::vector<int> AssignShards(const std::vector<Scenario> &scenarios, int shards) {
    std::vector<int> order(scenarios.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return scenarios[static_cast<std::size_t>(a)].cost_ms > scenarios[static_cast<std::size_t>(b)].cost_ms; });
    std::vector<long> load(static_cast<std::size_t>(shards), 0);
    std::vector<int> shard_of(scenarios.size(), 0);
    for (int i : order) {
        const auto least = std::min_element(load.begin(), load.end()) - load.begin();
        shard_of[static_cast<std::size_t>(i)] = static_cast<int>(least);
        load[static_cast<std::size_t>(least)] += scenarios[static_cast<std::size_t>(i)].cost_ms;
    }
    return shard_of;
}

// The library's trace (standard output, a file) from `from` on, as lines on
// standard error that the driver reports with the failure.
void PrintTrace(const std::string &name, long from) {
    std::fflush(stdout);
    const long end = ::lseek(STDOUT_FILENO, 0, SEEK_CUR);
    std::string text(static_cast<std::size_t>(std::max(0L, end - from)), '\0');
    if (text.empty() || ::pread(STDOUT_FILENO, text.data(), text.size(), from) <= 0) return;
    std::fprintf(stderr, "trace of the scenario before %s and of it:\n%s\n", name.c_str(), text.c_str());
}

// Child: runs its share, one line per scenario on standard error.
int RunShard(const std::vector<Scenario> &scenarios, const std::vector<int> &shard_of, int shard, bool trace) {
    // The library traces every exchange on standard output: kept in a scratch
    // file, so that a failing scenario can show the previous scenario's trace
    // and its own.
    char scratch[] = "/tmp/zelkor-fault-trace-XXXXXX";
    const int trace_fd = trace ? -1 : ::mkstemp(scratch);
    if (trace_fd >= 0) {
        ::unlink(scratch);
        std::fflush(stdout);
        ::dup2(trace_fd, STDOUT_FILENO);
        ::close(trace_fd);
    }
    long previous_start = 0;
    Rig rig;
    if (!rig.Start()) {
        std::fprintf(stderr, "@setup failed\n");
        return 2;
    }
    // Every scenario follows a good exchange, as in a working session.
    std::string setup = CheckFindCard(rig, "first exchange", 0);
    if (!setup.empty() && rig.Replug()) setup = CheckFindCard(rig, "first exchange, again", 0);
    if (!setup.empty()) {
        std::fprintf(stderr, "@setup failed: %s\n", setup.c_str());
        return 2;
    }
    for (std::size_t i = 0; i < scenarios.size(); ++i) {
        if (shard_of[i] != shard) continue;
        std::fflush(stdout);
        const long start = ::lseek(STDOUT_FILENO, 0, SEEK_CUR);
        std::string why = RunScenario(rig, scenarios[i]);
        if (!why.empty()) {
            // A starved process can miss a 1000 ms answer window that a
            // quiet machine keeps. A fault of the library fails again; a
            // pass on the second run is reported as a retry.
            const std::string first = why;
            SleepMs(1200);
            if (!rig.Replug()) {
                std::fprintf(stderr, "@setup failed\n");
                return 2;
            }
            why = RunScenario(rig, scenarios[i]);
            if (why.empty()) std::fprintf(stderr, "@retried %s: %s\n", scenarios[i].name.c_str(), first.c_str());
        }
        if (why.empty()) {
            std::fprintf(stderr, "@pass %s\n", scenarios[i].name.c_str());
        } else {
            std::fprintf(stderr, "@fail %s: %s\n", scenarios[i].name.c_str(), why.c_str());
            if (!trace) PrintTrace(scenarios[i].name, previous_start);
            // Start the next scenario from a clean reader and session.
            SleepMs(1200);
            if (!rig.Replug()) {
                std::fprintf(stderr, "@setup failed\n");
                return 2;
            }
        }
        std::fflush(stderr);
        previous_start = start;
    }
    return 0;
}

struct Child {
    pid_t pid = -1;
    int fd = -1;
    std::string buffer;
    std::map<std::string, bool> done;  // scenario -> passed
    bool finished = false;
};

int RunDriver(const char *self, const Options &opt, const std::vector<Scenario> &scenarios,
              const std::vector<int> &shard_of) {
    const auto start = Clock::now();
    std::vector<Child> children(static_cast<std::size_t>(opt.shards));
    std::vector<std::string> failures;
    std::vector<std::string> notes;
    std::vector<std::string> retries;
    for (int i = 0; i < opt.shards; ++i) {
        Child &ch = children[static_cast<std::size_t>(i)];
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return 2;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
        const std::string shard = std::to_string(i) + "/" + std::to_string(opt.shards);
        std::vector<std::string> args = {self, "--shard", shard};
        if (!opt.only.empty()) args.insert(args.end(), {"--only", opt.only});
        std::vector<char *> argv;
        for (std::string &a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        const int rc = ::posix_spawn(&ch.pid, "/proc/self/exe", &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        if (rc != 0) {
            ::close(fds[0]);
            ch.finished = true;
            notes.push_back("shard " + shard + " could not start");
            continue;
        }
        ch.fd = fds[0];
    }
    // Collect every line until all pipes close.
    for (;;) {
        std::vector<pollfd> fds;
        std::vector<Child *> owners;
        for (Child &ch : children) {
            if (ch.fd >= 0) {
                fds.push_back({ch.fd, POLLIN, 0});
                owners.push_back(&ch);
            }
        }
        if (fds.empty()) break;
        ::poll(fds.data(), fds.size(), 1000);
        for (std::size_t k = 0; k < fds.size(); ++k) {
            if (fds[k].revents == 0) continue;
            Child &ch = *owners[k];
            char chunk[4096];
            const ssize_t n = ::read(ch.fd, chunk, sizeof chunk);
            if (n <= 0) {
                ::close(ch.fd);
                ch.fd = -1;
                continue;
            }
            ch.buffer.append(chunk, static_cast<std::size_t>(n));
            for (std::size_t nl; (nl = ch.buffer.find('\n')) != std::string::npos;) {
                const std::string line = ch.buffer.substr(0, nl);
                ch.buffer.erase(0, nl + 1);
                if (line.rfind("@retried ", 0) == 0) {
                    retries.push_back("retried " + line.substr(9));
                } else if (line.rfind("@pass ", 0) == 0) {
                    ch.done[line.substr(6)] = true;
                } else if (line.rfind("@fail ", 0) == 0) {
                    const std::string rest = line.substr(6);
                    ch.done[rest.substr(0, rest.find(": "))] = false;
                    failures.push_back("FAIL " + rest);
                } else {
                    notes.push_back("shard " + std::to_string(&ch - children.data()) + ": " + line);
                }
            }
        }
    }
    int run = 0;
    int passed = 0;
    bool clean_exit = true;
    for (std::size_t i = 0; i < children.size(); ++i) {
        Child &ch = children[i];
        int status = 0;
        if (ch.pid > 0) ::waitpid(ch.pid, &status, 0);
        const bool ok = ch.pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (!ok) {
            clean_exit = false;
            const std::string how = ch.pid <= 0 ? "did not start"
                                    : WIFSIGNALED(status) ? "ended by signal " + std::to_string(WTERMSIG(status))
                                                          : "exited with status " + std::to_string(WEXITSTATUS(status));
            notes.push_back("shard " + std::to_string(i) + " " + how);
        }
        for (std::size_t k = 0; k < scenarios.size(); ++k) {
            if (shard_of[k] != static_cast<int>(i)) continue;
            if (!opt.only.empty() && scenarios[k].name.find(opt.only) == std::string::npos) continue;
            ++run;
            const auto it = ch.done.find(scenarios[k].name);
            if (it == ch.done.end()) {
                failures.push_back("FAIL " + scenarios[k].name + ": not completed (shard " + std::to_string(i) + " ended)");
            } else if (it->second) {
                ++passed;
            }
        }
    }
    for (const std::string &n : notes) std::fprintf(stderr, "%s\n", n.c_str());
    for (const std::string &r : retries) std::printf("%s\n", r.c_str());
    for (const std::string &f : failures) std::printf("%s\n", f.c_str());
    std::printf("fault campaign: %d scenarios run, %d passed (%zu on a second run), %d failed (%d shards, %.1f s)\n",
                run, passed, retries.size(), run - passed, opt.shards, static_cast<double>(MsSince(start)) / 1000.0);
    return run == passed && clean_exit ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
    Options opt;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--shard" && i + 1 < argc) {
            if (std::sscanf(argv[++i], "%d/%d", &opt.shard, &opt.shards) != 2) return 2;
        } else if (arg == "--shards" && i + 1 < argc) {
            opt.shards = std::atoi(argv[++i]);
        } else if (arg == "--only" && i + 1 < argc) {
            opt.only = argv[++i];
        } else if (arg == "--trace") {
            opt.trace = true;
        } else if (arg == "--list") {
            opt.list = true;
        } else {
            std::fprintf(stderr,
                         "usage: %s [--shards N] [--only TEXT] [--list]\n"
                         "       %s --shard I/N [--only TEXT] [--trace]   (one shard, results on standard error)\n",
                         argv[0], argv[0]);
            return 2;
        }
    }
    if (opt.shards < 1 || opt.shards > 64) return 2;
    static const std::vector<Command> commands = MakeCommands();
    std::vector<Scenario> scenarios = MakeScenarios(commands);
    if (!opt.only.empty()) {
        std::erase_if(scenarios, [&](const Scenario &s) { return s.name.find(opt.only) == std::string::npos; });
    }
    if (opt.list) {
        for (const Scenario &s : scenarios) std::printf("%s\n", s.name.c_str());
        return 0;
    }
    const std::vector<int> shard_of = AssignShards(scenarios, opt.shards);
    if (opt.shard >= 0) return RunShard(scenarios, shard_of, opt.shard, opt.trace);
    return RunDriver(argv[0], opt, scenarios, shard_of);
}
