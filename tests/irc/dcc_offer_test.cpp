#include "irc/ctcp.h"
#include "irc/dcc_offer.h"
#include "irc/message.h"
#include "irc/message_dispatcher.h"

#include <gtest/gtest.h>

using irc::DccKind;
using irc::DccOffer;

namespace {

// What an offer is read from: the arguments of its CTCP message, after "\x01DCC " and without
// the closing 0x01.
QByteArrayView arguments(const QByteArray& body)
{
    return QByteArrayView(body).sliced(std::min<qsizetype>(4, body.size()));
}

// An offer line as a server hands it on, read the way the dispatcher reads it.
std::optional<DccOffer> readBack(const QByteArray& line)
{
    const std::optional<irc::Message> message = irc::parseMessage(line);
    const std::optional<irc::Ctcp> ctcp =
        irc::splitCtcp(message ? message->trailing() : std::nullopt);
    if (!ctcp || !ctcp->dcc)
        return std::nullopt;
    const std::optional<irc::DccType> type = irc::readDccType(ctcp->arguments);
    if (!type || !type->offer)
        return std::nullopt;
    return irc::parseDccOffer(*type->offer, irc::GetSenderNick(*message), ctcp->arguments,
                              type->secure);
}

DccOffer offer(DccKind kind, const QByteArray& sender, const QByteArray& fileName, quint32 address,
               quint16 port, quint64 size, const QByteArray& token = {})
{
    DccOffer o = DccOffer::active(kind, sender, fileName, address, port, size);
    o.token = token;
    return o;
}

} // namespace

TEST(DccOffer, ReadsOffersAsTheyAreSent)
{
    struct Case
    {
        DccKind kind;
        QByteArray body;
        std::optional<DccOffer> offer;
    };
    const Case cases[] = {
        {DccKind::Send, "DCC SEND \"my file.txt\" 3232235777 4000 1234",
         offer(DccKind::Send, "bob", "my file.txt", 0xC0A80101, 4000, 1234)},
        {DccKind::Send, "DCC SEND plain.txt 3232235777 4000 1234 extra",
         offer(DccKind::Send, "bob", "plain.txt", 0xC0A80101, 4000, 1234, "extra")},
        {DccKind::Chat, "DCC CHAT chat 3232235777 70000",
         offer(DccKind::Chat, "bob", "", 0xC0A80101, 4464, 0)},
        // The word after CHAT is skipped unread.
        {DccKind::Chat, "DCC CHAT xxxx 16909060 2000",
         offer(DccKind::Chat, "bob", "", 0x01020304, 2000, 0)},
        {DccKind::Voice, "DCC VOICE 16909060 3000",
         offer(DccKind::Voice, "bob", "", 0x01020304, 3000, 0)},
        // Numbers wrap modulo 2^32 and read as C reads them.
        {DccKind::Send, "DCC SEND f 4294967297 -1 -1",
         offer(DccKind::Send, "bob", "f", 1, 65535, ~0ull)},
        // Files of 4 GiB and more are offered with their whole size.
        {DccKind::Send, "DCC SEND big.iso 16909060 2000 5368709120",
         offer(DccKind::Send, "bob", "big.iso", 0x01020304, 2000, 5368709120ull)},
        {DccKind::Send, "DCC SEND f 1 2 18446744073709551616",
         offer(DccKind::Send, "bob", "f", 1, 2, 0)},
        {DccKind::Send, "DCC SEND f x y big", offer(DccKind::Send, "bob", "f", 0, 0, 0)},
        {DccKind::Send, "DCC SEND \" 1 2 3", offer(DccKind::Send, "bob", "\"", 1, 2, 3)},
        // Missing fields drop the offer.
        {DccKind::Send, "DCC SEND", std::nullopt},
        {DccKind::Send, "DCC SEND f", std::nullopt},
        {DccKind::Send, "DCC SEND f 1", std::nullopt},
        {DccKind::Send, "DCC SEND f 1 2", std::nullopt},
        {DccKind::Send, "DCC SEND \"unclosed 1 2", std::nullopt},
        {DccKind::Send, "DCC SEND \"name\"", std::nullopt},
        {DccKind::Chat, "DCC CHAT chat 1", std::nullopt},
        {DccKind::Chat, "DCC CHAT", std::nullopt},
        {DccKind::Voice, "DCC VOICE 5", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(irc::parseDccOffer(c.kind, "bob", arguments(c.body)), c.offer)
            << c.body.toStdString();
}

TEST(DccOffer, SurvivesHostileLines)
{
    // No prefix, twenty fields, a sender without user@host: read or dropped, never a crash.
    const auto bare = readBack("PRIVMSG alice :\001DCC CHAT chat 1 2\001");
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->port, 2);
    QByteArray many = "DCC SEND f";
    for (int i = 0; i < 20; ++i)
        many += ' ' + QByteArray::number(i + 1);
    EXPECT_TRUE(irc::parseDccOffer(DccKind::Send, "bob", arguments(many)));
    const auto noHost = readBack(":bob PRIVMSG a :\001DCC CHAT chat 1 2\001");
    ASSERT_TRUE(noHost);
    EXPECT_EQ(noHost->sender, "bob");
}

TEST(DccOffer, RefusesPortsAndAddressesNoPeerHas)
{
    struct Case
    {
        quint32 address;
        quint16 port;
        bool serverOnLoopback;
        bool refused;
    };
    const Case cases[] = {
        {0xC0A80101, 4000, false, false},
        {0xC0A80101, 1024, false, false},
        {0xC0A80101, 1023, false, true},
        {0xC0A80101, 0, false, true},
        {0xC0A80101, 22, false, true},
        {0, 4000, false, true},
        {0x7F000001, 4000, false, true},
        {0x7F000001, 4000, true, false},
        {0xE0000001, 4000, false, true},
        {0xEFFFFFFF, 4000, true, true},
        {0xFFFFFFFF, 4000, true, true},
        {0xF0000001, 4000, false, true},
        {0x00000005, 4000, false, true},
        // Link-local (169.254.0.0/16) is nobody's address on the far side of a server.
        {0xA9FE0001, 4000, false, true},
        {0xA9FE0001, 4000, true, true},
        {0xA9FF0001, 4000, false, false},
        {0xA9FDFFFF, 4000, false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(irc::offerRefusal(offer(DccKind::Chat, "bob", "", c.address, c.port, 0),
                                    c.serverOnLoopback)
                      .has_value(),
                  c.refused)
            << std::hex << c.address << " port " << std::dec << c.port;
    }
}

TEST(DccOffer, ProposesOnlySafeBaseNames)
{
    const std::pair<QByteArray, std::optional<QByteArray>> cases[] = {
        {"report.pdf", "report.pdf"},
        {"my file.txt", "my file.txt"},
        {"../../.ssh/authorized_keys", "authorized_keys"},
        {"..\\..\\x.exe", "x.exe"},
        {"/etc/passwd", "passwd"},
        // A hidden file would not show in the folder it was saved to.
        {".bashrc", "_bashrc"},
        {"..hidden.txt", "__hidden.txt"},
        {"dir/.x", "_x"},
        {"a.b.", "a.b."},
        {"a\001b\nc\x7f", "a_b_c_"},
        {"say \"hi\".txt", "say \"hi\".txt"},
        {"%s%n%x", "%s%n%x"},
        {"", std::nullopt},
        {"..", std::nullopt},
        {"dir/..", std::nullopt},
        {"dir/", std::nullopt},
        {"...", std::nullopt},
    };
    for (const auto& [offered, safe] : cases)
        EXPECT_EQ(irc::SafeFileName(offered), safe) << offered.toStdString();

    // Room is left for the part file's ".part" in a name of 255 bytes.
    EXPECT_EQ(irc::SafeFileName(QByteArray(300, 'n'))->size(), 250);
    // 249 ASCII bytes then a two-byte character: the cut keeps whole characters.
    const QByteArray accented = QByteArray(249, 'a') + "\xc3\xa9" + "tail";
    EXPECT_EQ(*irc::SafeFileName(accented), QByteArray(249, 'a'));
}

TEST(DccOffer, FormatsOffersByteForByte)
{
    EXPECT_EQ(irc::formatChatOffer("bob", 3232235777u, 4000),
              QByteArray("PRIVMSG bob :\001DCC CHAT chat 3232235777 4000\001"));
    EXPECT_EQ(irc::formatFileOffer("bob", "a b.txt", 1, 1024, 4294967295u),
              QByteArray("PRIVMSG bob :\001DCC SEND \"a b.txt\" 1 1024 4294967295\001"));
    EXPECT_EQ(irc::formatFileOffer("bob", "big.iso", 1, 1024, 5368709120ull),
              QByteArray("PRIVMSG bob :\001DCC SEND \"big.iso\" 1 1024 5368709120\001"));
    EXPECT_EQ(irc::formatVoiceOffer("bob", 0, 4999),
              QByteArray("PRIVMSG bob :\001DCC VOICE 0 4999\001"));
    for (const QByteArray& nick : {QByteArray(""), QByteArray("a b"), QByteArray("a\r\nQUIT"),
                                   QByteArray(":x"), QByteArray("n\0", 2)})
        EXPECT_FALSE(irc::formatChatOffer(nick, 1, 2000)) << nick.toStdString();
}

// A base name of ours with a double quote ended the quoted name early, and one with 0x01 ended
// the CTCP message: the peer read another name, or none, and no numbers.
TEST(DccOffer, NamesThatWouldBreakAnOfferGoWithTheirBreakersReplaced)
{
    const std::pair<QByteArray, QByteArray> cases[] = {
        {"say \"hi\".txt", "say _hi_.txt"},
        {"\"quoted\"", "_quoted_"},
        {"a\001b", "a_b"},
        {"\001DCC SEND x", "_DCC SEND x"},
        {"x\r\nQUIT", "x__QUIT"},
        {QByteArray("n\0ul", 4), "n_ul"},
        {"tab\there", "tab_here"},
    };
    for (const auto& [name, sent] : cases) {
        const auto made = irc::formatFileOffer("bob", name, 16843009, 4000, 5000);
        ASSERT_TRUE(made) << name.toStdString();
        EXPECT_EQ(*made, "PRIVMSG bob :\001DCC SEND \"" + sent + "\" 16843009 4000 5000\001");
        // One CTCP message, read back by our own parser with every number in place.
        EXPECT_EQ(made->count('\001'), 2);
        const auto read = readBack(":alice!a@h " + *made);
        ASSERT_TRUE(read) << made->toStdString();
        EXPECT_EQ(read->fileName, sent);
        EXPECT_EQ(read->address, QHostAddress(16843009u));
        EXPECT_EQ(read->port, 4000);
        EXPECT_EQ(read->size, 5000u);
    }
}

// Found by fuzzing: an offer longer than a server line was built and sent, and arrived cut.
TEST(DccOffer, OffersThatWouldNotFitALineAreNotMade)
{
    const QByteArray longNick(480, 'n');
    EXPECT_FALSE(irc::formatChatOffer(longNick, 4294967295u, 65535));
    EXPECT_FALSE(irc::formatVoiceOffer(longNick, 4294967295u, 65535));
    // 460 name bytes leave exactly 510 with the longest numbers; one more does not fit.
    const QByteArray head = "PRIVMSG bob :\001DCC SEND \"";
    const QByteArray tail = "\" 4294967295 65535 4294967295\001";
    const qsizetype room = 510 - head.size() - tail.size();
    const auto fits =
        irc::formatFileOffer("bob", QByteArray(room, 'f'), 4294967295u, 65535, 4294967295u);
    ASSERT_TRUE(fits);
    EXPECT_EQ(fits->size(), 510);
    EXPECT_FALSE(
        irc::formatFileOffer("bob", QByteArray(room + 1, 'f'), 4294967295u, 65535, 4294967295u));
}

TEST(DccOffer, ChoosesPortsInTheOfferRange)
{
    for (quint32 random : {0u, 1u, 3975u, 3976u, 0xFFFFFFFFu, 123456789u}) {
        const quint16 port = irc::offerPort(random);
        EXPECT_GE(port, 1024);
        EXPECT_LE(port, 4999);
        const QList<quint16> tries = irc::offerPortsToTry(random);
        ASSERT_EQ(tries.size(), 8);
        EXPECT_EQ(tries.front(), port);
        for (quint16 p : tries) {
            EXPECT_GE(p, 1024);
            EXPECT_LE(p, 4999);
        }
    }
    EXPECT_EQ(irc::offerPortsToTry(3975, 2), (QList<quint16>{4999, 1024}));
}

TEST(DccOffer, PicksTheAddressToOffer)
{
    EXPECT_EQ(irc::GetLocalAddress(true, 0, 0x0A000001), 0u); // no WHO reply yet
    EXPECT_EQ(irc::GetLocalAddress(true, 0x01020304, 0x0A000001), 0x01020304u);
    EXPECT_EQ(irc::GetLocalAddress(false, 0x01020304, 0x0A000001), 0x0A000001u);
    EXPECT_EQ(irc::GetLocalAddress(false, 0x01020304, std::nullopt), 0u);
}

TEST(DccOffer, BoundsTheQuestionsWaitingForAnAnswer)
{
    irc::PendingOffers pending;
    using A = irc::PendingOffers::Admission;
    int admitted = 0;
    int noted = 0;
    for (int i = 0; i < 200; ++i) {
        const A a = pending.tryBegin();
        admitted += a == A::Admitted;
        noted += a == A::RefusedFirst;
    }
    EXPECT_EQ(admitted, irc::PendingOffers::kMaxPending);
    EXPECT_EQ(noted, 1);
    for (int i = 0; i < irc::PendingOffers::kMaxPending; ++i)
        pending.end();
    EXPECT_EQ(pending.tryBegin(), A::Admitted);
}

namespace {

DccOffer secured(DccOffer o, bool secure)
{
    o.secure = secure;
    return o;
}

DccOffer overIPv6(DccOffer o, const char* literal)
{
    o.address = QHostAddress(QString::fromLatin1(literal));
    return o;
}

} // namespace

TEST(DccOffer, ReadsPassiveSecureAndIPv6Offers)
{
    struct Case
    {
        DccKind kind;
        bool secure;
        QByteArray body;
        std::optional<DccOffer> offer;
    };
    const Case cases[] = {
        {DccKind::Send, false, "DCC SEND f 16843009 0 5000 18",
         offer(DccKind::Send, "bob", "f", 0x01010101, 0, 5000, "18")},
        // The answer to a passive offer: our peer's address and port, and our token back.
        {DccKind::Send, false, "DCC SEND f 3232235777 4000 5000 18",
         offer(DccKind::Send, "bob", "f", 0xC0A80101, 4000, 5000, "18")},
        {DccKind::Chat, false, "DCC CHAT chat 16843009 0 12",
         offer(DccKind::Chat, "bob", "", 0x01010101, 0, 0, "12")},
        {DccKind::Chat, false, "DCC CHAT CHAT 16843009 0 12",
         offer(DccKind::Chat, "bob", "", 0x01010101, 0, 0, "12")},
        {DccKind::Send, true, "DCC SSEND \"my file.txt\" 16843009 4000 10",
         secured(offer(DccKind::Send, "bob", "my file.txt", 0x01010101, 4000, 10), true)},
        {DccKind::Send, true, "DCC SSEND f 16843009 0 10 7",
         secured(offer(DccKind::Send, "bob", "f", 0x01010101, 0, 10, "7"), true)},
        {DccKind::Chat, true, "DCC SCHAT chat 16843009 4000",
         secured(offer(DccKind::Chat, "bob", "", 0x01010101, 4000, 0), true)},
        // Neither form is read as the other.
        {DccKind::Send, false, "DCC SSEND f 16843009 4000 10", std::nullopt},
        {DccKind::Send, true, "DCC SEND f 16843009 4000 10", std::nullopt},
        // A voice chat has no passive form and no secure one.
        {DccKind::Voice, false, "DCC VOICE 16843009 3000 99",
         offer(DccKind::Voice, "bob", "", 0x01010101, 3000, 0)},
        {DccKind::Voice, true, "DCC VOICE 16843009 3000 99",
         offer(DccKind::Voice, "bob", "", 0x01010101, 3000, 0)},
        {DccKind::Chat, false, "DCC CHAT chat ::1 4000",
         overIPv6(offer(DccKind::Chat, "bob", "", 0, 4000, 0), "::1")},
        {DccKind::Send, false, "DCC SEND \"a b\" 2001:db8::7 4000 10 5",
         overIPv6(offer(DccKind::Send, "bob", "a b", 0, 4000, 10, "5"), "2001:db8::7")},
        {DccKind::Chat, false, "DCC CHAT chat ::ffff:192.0.2.1 4000",
         overIPv6(offer(DccKind::Chat, "bob", "", 0, 4000, 0), "::ffff:192.0.2.1")},
        // A half-read IPv6 address would send us somewhere else.
        {DccKind::Chat, false, "DCC CHAT chat ::1::2 4000", std::nullopt},
        {DccKind::Chat, false, "DCC CHAT chat 2001:db8:::1 4000", std::nullopt},
        {DccKind::Chat, false, "DCC CHAT chat fe80::1%eth0 4000", std::nullopt},
        {DccKind::Chat, false, "DCC CHAT chat 1:2:3:4:5:6:7:8:9 4000", std::nullopt},
        {DccKind::Chat, false, "DCC CHAT chat : 4000", std::nullopt},
        {DccKind::Send, false, "DCC SEND f 1.2.3.4:80 4000 10", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(irc::parseDccOffer(c.kind, "bob", arguments(c.body), c.secure), c.offer)
            << c.body.toStdString();

    const auto passive =
        irc::parseDccOffer(DccKind::Send, "bob", arguments("DCC SEND f 16843009 0 5000 18"));
    ASSERT_TRUE(passive);
    EXPECT_TRUE(passive->passive());
    EXPECT_EQ(passive->address, QHostAddress("1.1.1.1"));
    const auto v6 =
        irc::parseDccOffer(DccKind::Chat, "bob", arguments("DCC CHAT chat 2001:db8::7 4000"));
    ASSERT_TRUE(v6);
    EXPECT_FALSE(v6->passive());
    EXPECT_EQ(v6->address, QHostAddress("2001:db8::7"));
}

TEST(DccOffer, RefusesPassiveAndIPv6OffersOnlyWhenNoPeerCouldMeanThem)
{
    struct Case
    {
        DccOffer offer;
        bool serverOnLoopback;
        bool refused;
    };
    const auto at = [](const char* literal, quint16 port = 4000) {
        return overIPv6(offer(DccKind::Chat, "bob", "", 0, port, 0), literal);
    };
    const Case cases[] = {
        // A passive offer is not connected to: its address does not matter.
        {offer(DccKind::Send, "bob", "f", 0, 0, 10, "18"), false, false},
        {offer(DccKind::Chat, "bob", "", 0x7F000001, 0, 0, "12"), false, false},
        {offer(DccKind::Chat, "bob", "", 0xE0000001, 0, 0, "12"), false, false},
        {offer(DccKind::Chat, "bob", "", 0x01010101, 0, 0), false, true},
        {offer(DccKind::Voice, "bob", "", 0x01010101, 0, 0, "12"), false, true},
        // The answer to our passive offer is connected to like any other.
        {offer(DccKind::Chat, "bob", "", 0x7F000001, 4000, 0, "12"), false, true},
        {at("::"), true, true},
        {at("ff02::1"), true, true},
        {at("fe80::1"), true, true},
        {at("::1"), false, true},
        {at("::1"), true, false},
        {at("2001:db8::1"), false, false},
        {at("2001:db8::1", 1023), false, true},
        {at("::ffff:127.0.0.1"), false, true},
        {at("::ffff:127.0.0.1"), true, false},
        {at("::ffff:224.0.0.1"), true, true},
        {at("::ffff:0.0.0.0"), true, true},
        {at("::ffff:192.0.2.1"), false, false},
        {at("::ffff:169.254.1.1"), true, true},
        // IPv4 inside the old compatible form and NAT64's prefix is judged as IPv4.
        {at("::127.0.0.1"), false, true},
        {at("::127.0.0.1"), true, false},
        {at("::169.254.0.1"), false, true},
        {at("::224.0.0.1"), true, true},
        {at("::192.0.2.1"), false, false},
        {at("64:ff9b::127.0.0.1"), false, true},
        {at("64:ff9b::7f00:1"), false, true},
        {at("64:ff9b::a9fe:101"), false, true},
        {at("64:ff9b::0.0.0.0"), false, true},
        {at("64:ff9b::192.0.2.1"), false, false},
        {at("::2"), true, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(irc::offerRefusal(c.offer, c.serverOnLoopback).has_value(), c.refused)
            << c.offer.address.toString().toStdString() << " port " << c.offer.port << " token "
            << c.offer.token.toStdString() << " loopback " << c.serverOnLoopback;
    }
}

TEST(DccOffer, FormatsPassiveSecureAndIPv6OffersByteForByte)
{
    const auto out = [](DccKind kind, const QByteArray& address, quint16 port,
                        const QByteArray& token, bool secure = false) {
        irc::OutgoingOffer o;
        o.kind = kind;
        o.nick = "bob";
        o.address = address;
        o.port = port;
        o.baseName = kind == DccKind::Send ? "a b.txt" : "";
        o.size = kind == DccKind::Send ? 5000 : 0;
        o.token = token;
        o.secure = secure;
        return irc::formatOffer(o);
    };
    const struct
    {
        std::optional<QByteArray> made;
        std::optional<QByteArray> expected;
    } cases[] = {
        {out(DccKind::Send, "16843009", 0, "18"),
         "PRIVMSG bob :\001DCC SEND \"a b.txt\" 16843009 0 5000 18\001"},
        {out(DccKind::Chat, "16843009", 0, "12"),
         "PRIVMSG bob :\001DCC CHAT chat 16843009 0 12\001"},
        {out(DccKind::Send, "3232235777", 4000, "18"),
         "PRIVMSG bob :\001DCC SEND \"a b.txt\" 3232235777 4000 5000 18\001"},
        {out(DccKind::Send, "1", 4000, "", true),
         "PRIVMSG bob :\001DCC SSEND \"a b.txt\" 1 4000 5000\001"},
        {out(DccKind::Chat, "1", 0, "7", true), "PRIVMSG bob :\001DCC SCHAT chat 1 0 7\001"},
        {out(DccKind::Chat, "2001:db8::1", 4000, ""),
         "PRIVMSG bob :\001DCC CHAT chat 2001:db8::1 4000\001"},
        {out(DccKind::Chat, "1", 0, "1 2"), std::nullopt},
        {out(DccKind::Chat, "1", 0, "12\r"), std::nullopt},
        {out(DccKind::Chat, "1", 0, "12\nQUIT"), std::nullopt},
        {out(DccKind::Chat, "1 2", 4000, ""), std::nullopt},
        {out(DccKind::Chat, "::1\r\nQUIT", 4000, ""), std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.made, c.expected) << (c.expected ? c.expected->toStdString() : "<refused>");

    const std::pair<QHostAddress, QByteArray> fields[] = {
        {QHostAddress("192.168.1.1"), "3232235777"},
        {QHostAddress("2001:db8::1"), "2001:db8::1"},
        {QHostAddress("fe80::1%eth0"), "fe80::1"},
        {QHostAddress("::ffff:192.168.1.1"), "3232235777"},
    };
    for (const auto& [address, field] : fields)
        EXPECT_EQ(irc::offerAddressField(address), field) << address.toString().toStdString();
}

TEST(DccResume, ReadsResumeAndAcceptWithOrWithoutToken)
{
    using irc::DccResumeKind;
    const auto resume = [](DccResumeKind kind, const QByteArray& name, quint16 port,
                           std::optional<quint64> position, const QByteArray& token = {}) {
        return irc::DccResume{kind, "bob", name, port, position, token};
    };
    const struct
    {
        DccResumeKind kind;
        QByteArray body;
        std::optional<irc::DccResume> read;
    } cases[] = {
        {DccResumeKind::Resume, "DCC RESUME f 4000 100",
         resume(DccResumeKind::Resume, "f", 4000, 100)},
        {DccResumeKind::Accept, "DCC ACCEPT f 0 100 18",
         resume(DccResumeKind::Accept, "f", 0, 100, "18")},
        {DccResumeKind::Resume, "DCC RESUME \"my file.txt\" 4000 100",
         resume(DccResumeKind::Resume, "my file.txt", 4000, 100)},
        {DccResumeKind::Accept, "DCC RESUME f 4000 100", std::nullopt},
        {DccResumeKind::Resume, "DCC RESUME", std::nullopt},
        {DccResumeKind::Resume, "DCC RESUME f", std::nullopt},
        {DccResumeKind::Resume, "DCC RESUME f 4000", std::nullopt},
        // An unclosed quote is part of a plain name.
        {DccResumeKind::Resume, "DCC RESUME \"unclosed 4000 1",
         resume(DccResumeKind::Resume, "\"unclosed", 4000, 1)},
        {DccResumeKind::Resume, "DCC RESUME \"my file\"", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(irc::parseDccResume(c.kind, "bob", arguments(c.body)), c.read)
            << c.body.toStdString();

    // A position we would seek to must be exactly what the peer wrote.
    const std::pair<QByteArray, std::optional<quint64>> positions[] = {
        {"0", 0},
        {"18446744073709551615", ~0ull},
        {"-1", std::nullopt},
        {"+5", std::nullopt},
        {"12x", std::nullopt},
        {"", std::nullopt},
        {" 5", std::nullopt},
        {"0x10", std::nullopt},
        {"99999999999999999999999", std::nullopt},
        {"18446744073709551616", std::nullopt},
    };
    for (const auto& [text, position] : positions) {
        const auto read = irc::parseDccResume(DccResumeKind::Resume, "bob",
                                              arguments("DCC RESUME f 4000 " + text));
        ASSERT_TRUE(read) << text.toStdString();
        EXPECT_EQ(read->position, position) << text.toStdString();
    }
}

TEST(DccResume, FormatsSafeLinesThatReadBack)
{
    using irc::DccResumeKind;
    EXPECT_EQ(irc::formatDccResume(DccResumeKind::Resume, "bob", "f", 4000, 100),
              QByteArray("PRIVMSG bob :\001DCC RESUME f 4000 100\001"));
    EXPECT_EQ(irc::formatDccResume(DccResumeKind::Accept, "bob", "my file.txt", 0, 100, "18"),
              QByteArray("PRIVMSG bob :\001DCC ACCEPT \"my file.txt\" 0 100 18\001"));
    const struct
    {
        QByteArray nick, name, token;
    } unsafe[] = {
        {"", "f", ""},   {"a b", "f", ""},    {":x", "f", ""},     {"a\r\nQUIT", "f", ""},
        {"bob", "", ""}, {"bob", "f", "1 2"}, {"bob", "f", "1\n"},
    };
    for (const auto& u : unsafe)
        EXPECT_FALSE(irc::formatDccResume(DccResumeKind::Resume, u.nick, u.name, 1, 2, u.token))
            << u.nick.toStdString() << "|" << u.name.toStdString() << "|" << u.token.toStdString();

    // The name is echoed, and means nothing to the sender: what would break the line goes as
    // '_', and the port and position always read back.
    const std::pair<QByteArray, QByteArray> names[] = {
        {"f", "f"},
        {"my file.txt", "my file.txt"},
        {"\"x", "_x"},
        {"a\"b", "a_b"},
        {"a \"b c", "a _b c"},
        {"a\001b", "a_b"},
        {"f\r\nQUIT", "f__QUIT"},
    };
    for (const auto& [name, echoed] : names) {
        for (const QByteArray token : {"", "18"}) {
            const auto made = irc::formatDccResume(DccResumeKind::Accept, "bob", name, 4000,
                                                   5368709120ull, token);
            ASSERT_TRUE(made) << name.toStdString();
            EXPECT_EQ(made->count('\001'), 2);
            const QByteArray received = ":alice!a@h " + *made;
            const std::optional<irc::Message> message = irc::parseMessage(received);
            ASSERT_TRUE(message);
            const std::optional<irc::Ctcp> ctcp = irc::splitCtcp(message->trailing());
            ASSERT_TRUE(ctcp && ctcp->dcc);
            EXPECT_EQ(irc::parseDccResume(DccResumeKind::Accept, irc::GetSenderNick(*message),
                                          ctcp->arguments),
                      (irc::DccResume{DccResumeKind::Accept, "alice", echoed, 4000, 5368709120ull,
                                      token}))
                << received.toStdString();
        }
    }
}
