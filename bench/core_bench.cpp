// The protocol cores against references built into the same binary: server line dispatch against
// a bare CR LF splitter, our Blowfish against OpenSSL's, the chat packet round trip, the key
// schedule and one presence poll. Each benchmark's label is its figure's name and its counter
// "value" the figure (bench/figures.h): rates per second of CPU time (MB are 10^6 bytes), the
// µs figures CPU time per call.
//
// The dispatch figures run over a 100 MB buffer of server lines (mostly chat, lengths spread
// evenly up to 500 bytes, with the numerics, PINGs and CTCP queries the dispatcher acts on) cut
// into reads of 1 to 16 KiB, both drawn from fixed seeds. For a quick check that the program
// still runs, set KIVVO_BENCH_SMOKE=1, which shrinks the buffer to 1 MB:
//     KIVVO_BENCH_SMOKE=1 core_bench --benchmark_min_time=0.001 --benchmark_repetitions=1
#include "config/settings.h"
#include "irc/line_framer.h"
#include "irc/line_queue.h"
#include "irc/message_dispatcher.h"
#include "irc/presence.h"
#include "irc/registration.h"
#include "peer/blowfish.h"
#include "peer/encrypted_chat.h"

#include <QByteArray>
#include <QList>
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <openssl/evp.h>
#include <openssl/provider.h>
#include <random>
#include <string>
#include <vector>

namespace {

// A rate counter turned upside down: microseconds per iteration when fed iterations * 1e-6.
const benchmark::Counter::Flags kMicrosecondsEach =
    benchmark::Counter::kIsRate | benchmark::Counter::kInvert;

// ---------------------------------------------------------------------------------------------
// Server lines

constexpr std::size_t kFullBufferBytes = 100u * 1000 * 1000;
constexpr std::size_t kSmokeBufferBytes = 1000 * 1000;
constexpr std::size_t kMinRead = 1;
constexpr std::size_t kMaxRead = 16 * 1024;
constexpr std::size_t kLongestLine = 500; // with its CR LF

const char* const kOurNick = "kivvo";

bool smokeRun()
{
    const char* smoke = std::getenv("KIVVO_BENCH_SMOKE");
    return smoke && *smoke && std::strcmp(smoke, "0") != 0;
}

// Words for the text of chat lines: mostly short, the way people type.
const char* const kWords[] = {"the",
                              "a",
                              "is",
                              "it",
                              "ok",
                              "lol",
                              "brb",
                              "anyone",
                              "here",
                              "know",
                              "how",
                              "to",
                              "fix",
                              "this",
                              "server",
                              "again",
                              "thanks",
                              "yes",
                              "no",
                              "maybe",
                              "tomorrow",
                              "file",
                              "sent",
                              "you",
                              "we",
                              "build",
                              "broken",
                              "works",
                              "\x02"
                              "bold\x02",
                              "\x03"
                              "4red\x03",
                              "ünïcödé",
                              "https://example.org/some/long/path?q=1"};

std::string randomText(std::mt19937& rng, std::size_t length)
{
    std::uniform_int_distribution<std::size_t> word(0, std::size(kWords) - 1);
    std::string text;
    while (text.size() < length) {
        if (!text.empty())
            text += ' ';
        text += kWords[word(rng)];
    }
    text.resize(length);
    return text;
}

std::string randomNick(std::mt19937& rng)
{
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz_[]";
    std::uniform_int_distribution<int> length(3, 12);
    std::uniform_int_distribution<std::size_t> letter(0, sizeof kLetters - 2);
    std::string nick;
    for (int i = length(rng); i > 0; --i)
        nick += kLetters[letter(rng)];
    return nick;
}

// The text that brings a line of chat to a length drawn evenly from 1 to kLongestLine bytes with
// its CR LF; none when the line's head alone is longer.
std::string textToLength(std::mt19937& rng, const std::string& head)
{
    const std::size_t total = std::uniform_int_distribution<std::size_t>(1, kLongestLine)(rng);
    const std::size_t room = total > head.size() + 2 ? total - head.size() - 2 : 0;
    return randomText(rng, room);
}

// One server line, CR LF ended, at most kLongestLine bytes with it. Chat is most of the stream;
// the numerics the dispatcher acts on, keep-alives and CTCP queries come in between.
std::string randomServerLine(std::mt19937& rng)
{
    const std::string nick = randomNick(rng);
    const std::string prefix =
        ":" + nick + "!~" + nick + "@host-" + std::to_string(rng() % 9999) + ".example.net ";
    const std::string server = ":irc.example.net ";
    std::string line;
    // Shares in percent.
    const int kind = std::uniform_int_distribution<int>(0, 99)(rng);
    if (kind < 45) {
        line = prefix + "PRIVMSG #channel" + std::to_string(rng() % 8) + " :";
        line += textToLength(rng, line);
    } else if (kind < 65) {
        line = prefix + "PRIVMSG " + kOurNick + " :";
        line += textToLength(rng, line);
    } else if (kind < 68) {
        line = prefix + "PRIVMSG " + kOurNick + " :\x01VERSION\x01";
    } else if (kind < 70) {
        line = prefix + "PRIVMSG " + kOurNick + " :\x01PING " + std::to_string(rng()) + "\x01";
    } else if (kind < 78) {
        line = prefix + "NOTICE " + kOurNick + " :";
        line += textToLength(rng, line);
    } else if (kind < 79) {
        line = server + "001 " + kOurNick + " :Welcome to the Example IRC Network " + kOurNick;
    } else if (kind < 81) {
        line = server + "005 " + kOurNick
               + " CHANTYPES=# PREFIX=(ov)@+ NETWORK=Example CASEMAPPING=rfc1459 NICKLEN=30 "
                 "CHANNELLEN=50 TOPICLEN=390 :are supported by this server";
    } else if (kind < 84) {
        line = server + "303 " + kOurNick + " :";
        for (int i = std::uniform_int_distribution<int>(0, 30)(rng); i > 0; --i)
            line += randomNick(rng) + ' ';
    } else if (kind < 86) {
        line = server + "311 " + kOurNick + " " + nick + " ~" + nick
               + " host.example.net * :" + randomText(rng, 20);
    } else if (kind < 88) {
        line = server + "352 " + kOurNick + " * ~" + kOurNick + " 198.51.100."
               + std::to_string(rng() % 256) + " irc.example.net " + kOurNick + " H :0 Real Name";
    } else if (kind < 89) {
        line = server + "433 * " + kOurNick + " :Nickname is already in use";
    } else if (kind < 94) {
        line = "PING :irc.example.net";
    } else if (kind < 97) {
        line = prefix + "JOIN #channel" + std::to_string(rng() % 8);
    } else {
        line = prefix + "QUIT :" + randomText(rng, 12);
    }
    if (line.size() > kLongestLine - 2)
        line.resize(kLongestLine - 2);
    line += "\r\n";
    return line;
}

struct ServerStream
{
    std::string bytes;
    std::vector<std::size_t> reads; // the sizes of the reads that cut the stream, in order
    std::size_t lines = 0;
};

// Built once, outside every timed loop, with fixed seeds.
const ServerStream& serverStream()
{
    static const ServerStream stream = [] {
        ServerStream s;
        const std::size_t size = smokeRun() ? kSmokeBufferBytes : kFullBufferBytes;
        s.bytes.reserve(size + kLongestLine);
        std::mt19937 rng(20240611);
        while (s.bytes.size() < size) {
            s.bytes += randomServerLine(rng);
            ++s.lines;
        }
        std::mt19937 readRng(7);
        std::uniform_int_distribution<std::size_t> readSize(kMinRead, kMaxRead);
        for (std::size_t at = 0; at < s.bytes.size();) {
            const std::size_t read = std::min(readSize(readRng), s.bytes.size() - at);
            s.reads.push_back(read);
            at += read;
        }
        return s;
    }();
    return stream;
}

// Takes every request and does nothing with it; a CTCP query is left as plain text.
class QuietActions : public irc::ServerLineActions
{
public:
    QByteArray nickInUse() const override { return m_nick; }
    void setNickInUse(const QByteArray& nick) override { m_nick = nick; }
    qint64 nowMs() const override { return 0; }
    QByteArray localHostName() const override { return "localhost"; }
    bool sendLine(const QByteArray&) override { return true; }
    void setTitleNick(const QByteArray&) override {}
    void ctcpReply(QByteArrayView, const irc::Ctcp&) override {}
    void ctcpQuery(QByteArrayView, const irc::Ctcp&) override {}
    void dccOffer(const irc::DccOffer&) override {}
    void privateText(QByteArrayView, std::optional<QByteArrayView>,
                     const std::optional<QByteArray>&) override
    {}
    void presenceReply(const Names&) override {}
    void showWhois(QByteArrayView) override {}
    void resolveOwnHost(QByteArrayView) override {}
    void logStatus(const QString&) override {}

private:
    QByteArray m_nick = kOurNick;
};

// The way the program takes server lines, as ServerLink does: each read is framed into a queue
// of lines that view the read's buffer, and each line is parsed once at its delivery; the
// registration and the dispatcher read the parsed parts in place.
void DispatchLines(benchmark::State& state)
{
    const ServerStream& stream = serverStream();
    config::Settings settings;
    settings.nick = kOurNick;
    settings.altnick = "kivvo_";
    QuietActions actions;
    std::size_t lines = 0;
    for (auto _ : state) {
        irc::LineFramer framer;
        irc::LineQueue queue;
        irc::MessageDispatcher dispatcher(settings, actions);
        irc::Registration registration(kOurNick, "Kivvo", {});
        registration.start();
        const char* at = stream.bytes.data();
        for (const std::size_t read : stream.reads) {
            // The read buffer as the socket hands it over.
            const QByteArray bytes = QByteArray::fromRawData(at, qsizetype(read));
            const QList<QByteArrayView> batch = queue.push(bytes, framer);
            benchmark::DoNotOptimize(batch.data());
            while (!queue.empty()) {
                const irc::LineQueue::Line line = queue.pop();
                if (const std::optional<irc::Message> message = irc::parseMessage(line.view)) {
                    registration.take(*message);
                    dispatcher.HandleServerLine(*message);
                }
                ++lines;
            }
            at += read;
        }
    }
    if (lines != stream.lines * std::size_t(state.iterations()))
        state.SkipWithError("the framer lost lines");
    state.SetLabel("dispatch lines/s");
    state.counters["value"] = benchmark::Counter(double(lines), benchmark::Counter::kIsRate);
}

// The least any receiver must do: find each CR LF and copy the line out.
void BareSplitter(benchmark::State& state)
{
    const ServerStream& stream = serverStream();
    std::size_t lines = 0;
    for (auto _ : state) {
        std::string pending;
        const char* at = stream.bytes.data();
        for (const std::size_t read : stream.reads) {
            const char* p = at;
            const char* const end = at + read;
            if (!pending.empty()) {
                // The carried-over tail may end in the CR of a CR LF split between two reads.
                const char* lf = static_cast<const char*>(std::memchr(p, '\n', read));
                while (lf && (lf == p ? pending.back() != '\r' : lf[-1] != '\r'))
                    lf = static_cast<const char*>(std::memchr(lf + 1, '\n', end - lf - 1));
                if (!lf) {
                    pending.append(p, end);
                    at = end;
                    continue;
                }
                pending.append(p, lf);
                pending.pop_back(); // its CR
                std::string line = std::move(pending);
                benchmark::DoNotOptimize(line.data());
                ++lines;
                pending.clear();
                p = lf + 1;
            }
            while (p < end) {
                const char* lf = static_cast<const char*>(std::memchr(p, '\n', end - p));
                while (lf && (lf == p || lf[-1] != '\r'))
                    lf = static_cast<const char*>(std::memchr(lf + 1, '\n', end - lf - 1));
                if (!lf) {
                    pending.assign(p, end);
                    break;
                }
                std::string line(p, lf - 1);
                benchmark::DoNotOptimize(line.data());
                ++lines;
                p = lf + 1;
            }
            at = end;
        }
    }
    if (lines != stream.lines * std::size_t(state.iterations()))
        state.SkipWithError("the splitter lost lines");
    state.SetLabel("bare splitter lines/s");
    state.counters["value"] = benchmark::Counter(double(lines), benchmark::Counter::kIsRate);
}

BENCHMARK(DispatchLines)->Unit(benchmark::kMillisecond);
BENCHMARK(BareSplitter)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------------------------
// Blowfish

// A chat key as MakeChatKey draws them: 16 bytes in 1..254.
const QByteArray kChatKey = "\x5a\x13\xe7\x81\x02\xfe\x44\x99\xc3\x3c\x10\x7f\x80\xab\xcd\xef";

const peer::BlowfishState& chatState()
{
    static const peer::BlowfishState state = [] {
        peer::BlowfishState s;
        peer::BlowfishInit(s, kChatKey);
        return s;
    }();
    return state;
}

quint32 readLittleEndian(const unsigned char* b)
{
    return quint32(b[0]) | quint32(b[1]) << 8 | quint32(b[2]) << 16 | quint32(b[3]) << 24;
}

void writeLittleEndian(unsigned char* b, quint32 value)
{
    b[0] = static_cast<unsigned char>(value);
    b[1] = static_cast<unsigned char>(value >> 8);
    b[2] = static_cast<unsigned char>(value >> 16);
    b[3] = static_cast<unsigned char>(value >> 24);
}

std::vector<unsigned char> patternBytes(std::size_t size)
{
    std::vector<unsigned char> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<unsigned char>(i * 37 + 11);
    return bytes;
}

// ECB over the buffer, each block's halves read little-endian, as the chat packets do.
template <void (*Cipher)(const peer::BlowfishState&, quint32&, quint32&)>
void OurBlowfish(benchmark::State& state, const char* figure)
{
    const peer::BlowfishState& key = chatState();
    const auto size = std::size_t(state.range(0));
    std::vector<unsigned char> buffer = patternBytes(size);
    for (auto _ : state) {
        for (std::size_t at = 0; at + 8 <= size; at += 8) {
            quint32 left = readLittleEndian(buffer.data() + at);
            quint32 right = readLittleEndian(buffer.data() + at + 4);
            Cipher(key, left, right);
            writeLittleEndian(buffer.data() + at, left);
            writeLittleEndian(buffer.data() + at + 4, right);
        }
        benchmark::ClobberMemory();
    }
    state.SetLabel(figure);
    state.counters["value"] = benchmark::Counter(double(size) * double(state.iterations()) / 1e6,
                                                 benchmark::Counter::kIsRate);
}

void OurEncrypt(benchmark::State& state)
{
    OurBlowfish<peer::BlowfishEncrypt>(state, state.range(0) == 16 ? "blowfish 16 B MB/s"
                                                                   : "blowfish 1024 B MB/s");
}

void OurDecrypt(benchmark::State& state)
{
    OurBlowfish<peer::BlowfishDecrypt>(state, state.range(0) == 16
                                                  ? "blowfish decrypt 16 B MB/s"
                                                  : "blowfish decrypt 1024 B MB/s");
}

// OpenSSL 3 keeps Blowfish in the legacy provider; the default one stays for everything else.
bool loadOpenSslProviders()
{
    static const bool loaded = OSSL_PROVIDER_load(nullptr, "legacy") != nullptr
                               && OSSL_PROVIDER_load(nullptr, "default") != nullptr;
    return loaded;
}

void OpenSslBlowfish(benchmark::State& state, int encrypt, const char* figure)
{
    const auto size = std::size_t(state.range(0));
    state.SetLabel(figure);
    if (!loadOpenSslProviders()) {
        state.SkipWithError("OpenSSL's legacy provider did not load");
        return;
    }
    EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, "BF-ECB", nullptr);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    const auto* key = reinterpret_cast<const unsigned char*>(kChatKey.constData());
    bool ready = cipher && ctx && EVP_CipherInit_ex(ctx, cipher, nullptr, nullptr, nullptr, encrypt)
                 && EVP_CIPHER_CTX_set_key_length(ctx, int(kChatKey.size()))
                 && EVP_CipherInit_ex(ctx, nullptr, nullptr, key, nullptr, encrypt)
                 && EVP_CIPHER_CTX_set_padding(ctx, 0);
    std::vector<unsigned char> in = patternBytes(size);
    std::vector<unsigned char> out(size + 8);
    for (auto _ : state) {
        if (!ready)
            break;
        int written = 0;
        ready = EVP_CipherUpdate(ctx, out.data(), &written, in.data(), int(size))
                && written == int(size);
        benchmark::ClobberMemory();
    }
    if (!ready)
        state.SkipWithError("EVP_CipherUpdate failed");
    EVP_CIPHER_CTX_free(ctx);
    EVP_CIPHER_free(cipher);
    state.counters["value"] = benchmark::Counter(double(size) * double(state.iterations()) / 1e6,
                                                 benchmark::Counter::kIsRate);
}

void OpenSslEncrypt(benchmark::State& state)
{
    OpenSslBlowfish(
        state, 1, state.range(0) == 16 ? "openssl bf-ecb 16 B MB/s" : "openssl bf-ecb 1024 B MB/s");
}

void OpenSslDecrypt(benchmark::State& state)
{
    OpenSslBlowfish(state, 0,
                    state.range(0) == 16 ? "openssl bf-ecb decrypt 16 B MB/s"
                                         : "openssl bf-ecb decrypt 1024 B MB/s");
}

BENCHMARK(OurEncrypt)->Arg(16)->Arg(1024);
BENCHMARK(OpenSslEncrypt)->Arg(16)->Arg(1024);
BENCHMARK(OurDecrypt)->Arg(16)->Arg(1024);
BENCHMARK(OpenSslDecrypt)->Arg(16)->Arg(1024);

void SealOpen(benchmark::State& state)
{
    const peer::BlowfishState& key = chatState();
    const QByteArray text = "<bob> did you get the file? I sent it over an hour ago, ping me";
    const QByteArrayView line(text.constData(), 60);
    for (auto _ : state) {
        const std::optional<QByteArray> packet = peer::SealChatText(key, line);
        const std::optional<peer::OpenedChatPacket> opened = peer::OpenChatPacket(key, *packet);
        benchmark::DoNotOptimize(opened->text.constData());
    }
    const std::optional<QByteArray> packet = peer::SealChatText(key, line);
    if (!packet || peer::OpenChatPacket(key, *packet)->text != line)
        state.SkipWithError("the round trip changed the text");
    state.SetLabel("seal+open round trips/s");
    state.counters["value"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(SealOpen);

// The chat key's length: what every chat schedules when it starts.
void KeySchedule(benchmark::State& state)
{
    peer::BlowfishState schedule;
    for (auto _ : state) {
        peer::BlowfishInit(schedule, kChatKey);
        benchmark::DoNotOptimize(&schedule);
    }
    state.SetLabel("blowfish key schedule µs");
    state.counters["value"] =
        benchmark::Counter(double(state.iterations()) * 1e-6, kMicrosecondsEach);
}

BENCHMARK(KeySchedule)->Unit(benchmark::kMicrosecond);

// ---------------------------------------------------------------------------------------------
// Presence

constexpr int kContacts = 256;

void PresencePoll(benchmark::State& state)
{
    std::mt19937 rng(99);
    QList<QByteArray> contacts;
    for (int i = 0; i < kContacts; ++i)
        contacts.append(QByteArray::fromStdString(randomNick(rng)));
    // The 303 replies: of each ISON line's names, about every other one online.
    QList<QList<QByteArray>> replies;
    for (const QByteArray& request : irc::BuildIsonLines(contacts)) {
        QList<QByteArray> online;
        for (const QByteArray& name : request.split(' ').mid(1)) {
            if (rng() % 2)
                online.append(name);
        }
        replies.append(online);
    }

    irc::PresenceMerge merge;
    qsizetype online = 0;
    for (auto _ : state) {
        const QList<QByteArray> requests = irc::BuildIsonLines(contacts);
        merge.startPoll(int(requests.size()));
        for (const QList<QByteArray>& reply : replies) {
            if (const auto merged = merge.takeReply(reply))
                online = merged->size();
        }
        benchmark::DoNotOptimize(online);
    }
    state.SetLabel("presence poll 256 contacts µs");
    state.counters["value"] =
        benchmark::Counter(double(state.iterations()) * 1e-6, kMicrosecondsEach);
}

BENCHMARK(PresencePoll)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
