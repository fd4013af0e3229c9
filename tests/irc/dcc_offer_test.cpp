#include "irc/ctcp.h"
#include "irc/dcc_offer.h"
#include "irc/message.h"
#include "irc/message_dispatcher.h"
#include "tests/support/dcc_offers.h"
#include "tests/support/offer_lines.h"

#include <gtest/gtest.h>

using irc::DccKind;
using irc::DccOffer;

using test::offer;

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
        const auto read = test::readOfferLine(":alice!a@h " + *made);
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

TEST(DccOffer, RefusesOffersOnlyWhenNoPeerCouldMeanThem)
{
    struct Case
    {
        DccOffer offer;
        bool serverOnLoopback;
        bool refused;
    };
    const auto v4 = [](quint32 address, quint16 port) {
        return offer(DccKind::Chat, "bob", "", address, port, 0);
    };
    const auto at = [](const char* literal, quint16 port = 4000) {
        return test::overIPv6(offer(DccKind::Chat, "bob", "", 0, port, 0), literal);
    };
    const Case cases[] = {
        {v4(0xC0A80101, 4000), false, false},
        {v4(0xC0A80101, 1024), false, false},
        {v4(0xC0A80101, 1023), false, true},
        {v4(0xC0A80101, 0), false, true},
        {v4(0xC0A80101, 22), false, true},
        {v4(0, 4000), false, true},
        {v4(0x7F000001, 4000), false, true},
        {v4(0x7F000001, 4000), true, false},
        {v4(0xE0000001, 4000), false, true},
        {v4(0xEFFFFFFF, 4000), true, true},
        {v4(0xFFFFFFFF, 4000), true, true},
        {v4(0xF0000001, 4000), false, true},
        {v4(0x00000005, 4000), false, true},
        // Link-local (169.254.0.0/16) is nobody's address on the far side of a server.
        {v4(0xA9FE0001, 4000), false, true},
        {v4(0xA9FE0001, 4000), true, true},
        {v4(0xA9FF0001, 4000), false, false},
        {v4(0xA9FDFFFF, 4000), false, false},
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
        // The local-use prefix of RFC 8215, as any translator inside it embeds the address.
        {at("64:ff9b:1::127.0.0.1"), false, true},
        {at("64:ff9b:1::127.0.0.1"), true, false},
        {at("64:ff9b:1::7f00:1"), false, true},
        {at("64:ff9b:1:ab:cd:ef::7f00:1"), false, true},
        {at("64:ff9b:1::a9fe:101"), false, true},
        {at("64:ff9b:1::0.0.0.0"), false, true},
        {at("64:ff9b:1::224.0.0.1"), false, true},
        {at("64:ff9b:1::192.0.2.1"), false, false},
        {at("64:ff9b:1:ab::192.0.2.1"), false, false},
        // Outside both prefixes it is an IPv6 address like any other.
        {at("64:ff9b:2::7f00:1"), false, false},
        {at("::2"), true, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(irc::offerRefusal(c.offer, c.serverOnLoopback).has_value(), c.refused)
            << c.offer.address.toString().toStdString() << " port " << c.offer.port << " token "
            << c.offer.token.toStdString() << " loopback " << c.serverOnLoopback;
    }
}

TEST(DccOffer, FormatsOffersByteForByte)
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
        {irc::formatChatOffer("bob", 3232235777u, 4000),
         "PRIVMSG bob :\001DCC CHAT chat 3232235777 4000\001"},
        {irc::formatFileOffer("bob", "a b.txt", 1, 1024, 4294967295u),
         "PRIVMSG bob :\001DCC SEND \"a b.txt\" 1 1024 4294967295\001"},
        {irc::formatFileOffer("bob", "big.iso", 1, 1024, 5368709120ull),
         "PRIVMSG bob :\001DCC SEND \"big.iso\" 1 1024 5368709120\001"},
        {irc::formatVoiceOffer("bob", 0, 4999), "PRIVMSG bob :\001DCC VOICE 0 4999\001"},
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
    for (const QByteArray& nick : {QByteArray(""), QByteArray("a b"), QByteArray("a\r\nQUIT"),
                                   QByteArray(":x"), QByteArray("n\0", 2)})
        EXPECT_FALSE(irc::formatChatOffer(nick, 1, 2000)) << nick.toStdString();

    const std::pair<QHostAddress, QByteArray> fields[] = {
        {QHostAddress("192.168.1.1"), "3232235777"},
        {QHostAddress("2001:db8::1"), "2001:db8::1"},
        {QHostAddress("fe80::1%eth0"), "fe80::1"},
        {QHostAddress("::ffff:192.168.1.1"), "3232235777"},
    };
    for (const auto& [address, field] : fields)
        EXPECT_EQ(irc::offerAddressField(address), field) << address.toString().toStdString();
}

// DCC REJECT as mIRC and irssi write and read it: a CTCP reply naming what the offer named.
TEST(DccReject, ReadsAndWritesTheConvention)
{
    using irc::DccKind;
    using irc::DccReject;
    const struct
    {
        QByteArray arguments;
        std::optional<DccReject> reject;
    } reads[] = {
        {"REJECT SEND f.txt", DccReject{"bob", DccKind::Send, false, "f.txt"}},
        {"REJECT SEND my file.txt", DccReject{"bob", DccKind::Send, false, "my file.txt"}},
        {"REJECT SEND \"my file.txt\"", DccReject{"bob", DccKind::Send, false, "my file.txt"}},
        {"REJECT SSEND f", DccReject{"bob", DccKind::Send, true, "f"}},
        {"REJECT CHAT chat", DccReject{"bob", DccKind::Chat, false, "chat"}},
        {"REJECT SCHAT chat", DccReject{"bob", DccKind::Chat, true, "chat"}},
        {"REJECT CHAT", DccReject{"bob", DccKind::Chat, false, ""}},
        {"REJECT SEND", std::nullopt},
        {"REJECT SEND ", std::nullopt},
        {"REJECT VOICE", std::nullopt},
        {"REJECT", std::nullopt},
        {"RESUME f 4000 10", std::nullopt},
    };
    for (const auto& r : reads)
        EXPECT_EQ(irc::parseDccReject("bob", r.arguments), r.reject) << r.arguments.constData();

    irc::DccOffer file = irc::DccOffer::active(DccKind::Send, "bob", "my \"file\x01.txt", {}, 5000);
    EXPECT_EQ(irc::formatDccReject(file), "NOTICE bob :\x01"
                                          "DCC REJECT SEND my _file_.txt\x01");
    file.secure = true;
    EXPECT_EQ(irc::formatDccReject(file), "NOTICE bob :\x01"
                                          "DCC REJECT SSEND my _file_.txt\x01");
    const irc::DccOffer chat = irc::DccOffer::active(DccKind::Chat, "bob", {}, {}, 4000);
    EXPECT_EQ(irc::formatDccReject(chat), "NOTICE bob :\x01"
                                          "DCC REJECT CHAT chat\x01");
    EXPECT_EQ(irc::formatDccReject(irc::DccOffer::active(DccKind::Chat, "b b", {}, {}, 4000)),
              std::nullopt);
    EXPECT_TRUE(irc::rejectNamesFile({"bob", DccKind::Send, false, "a_b.txt"}, "a\"b.txt"));
    EXPECT_FALSE(irc::rejectNamesFile({"bob", DccKind::Chat, false, "a.txt"}, "a.txt"));
}
