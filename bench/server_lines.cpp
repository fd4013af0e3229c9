#include "bench/server_lines.h"

#include "bench/core_common.h"

#include <algorithm>

namespace bench {
namespace {

constexpr std::size_t kFullBufferBytes = 100u * 1000 * 1000;
constexpr std::size_t kSmokeBufferBytes = 1000 * 1000;
constexpr std::size_t kMinRead = 1;
constexpr std::size_t kMaxRead = 16 * 1024;
constexpr std::size_t kLongestLine = 500; // with its CR LF

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

} // namespace

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

namespace {

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

} // namespace

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

} // namespace bench
