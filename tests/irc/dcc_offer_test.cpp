#include "irc/dcc_offer.h"

#include <gtest/gtest.h>

using irc::DccKind;
using irc::DccOffer;

namespace {

constexpr char kFrom[] = ":bob!b@host PRIVMSG alice :\001";

QByteArray line(const QByteArray& body)
{
    return kFrom + body; // the closing 0x01 is already gone when an offer is read
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
         DccOffer{DccKind::Send, "bob", "my file.txt", 0xC0A80101, 4000, 1234}},
        {DccKind::Send, "DCC SEND plain.txt 3232235777 4000 1234 extra",
         DccOffer{DccKind::Send, "bob", "plain.txt", 0xC0A80101, 4000, 1234}},
        {DccKind::Chat, "DCC CHAT chat 3232235777 70000",
         DccOffer{DccKind::Chat, "bob", "", 0xC0A80101, 4464, 0}},
        // The word after CHAT is skipped unread.
        {DccKind::Chat, "DCC CHAT xxxx 16909060 2000",
         DccOffer{DccKind::Chat, "bob", "", 0x01020304, 2000, 0}},
        {DccKind::Voice, "DCC VOICE 16909060 3000",
         DccOffer{DccKind::Voice, "bob", "", 0x01020304, 3000, 0}},
        // Numbers wrap modulo 2^32 and read as C reads them.
        {DccKind::Send, "DCC SEND f 4294967297 -1 -1",
         DccOffer{DccKind::Send, "bob", "f", 1, 65535, ~0ull}},
        // Files of 4 GiB and more are offered with their whole size.
        {DccKind::Send, "DCC SEND big.iso 16909060 2000 5368709120",
         DccOffer{DccKind::Send, "bob", "big.iso", 0x01020304, 2000, 5368709120ull}},
        {DccKind::Send, "DCC SEND f 1 2 18446744073709551616",
         DccOffer{DccKind::Send, "bob", "f", 1, 2, 0}},
        {DccKind::Send, "DCC SEND f x y big", DccOffer{DccKind::Send, "bob", "f", 0, 0, 0}},
        {DccKind::Send, "DCC SEND \" 1 2 3", DccOffer{DccKind::Send, "bob", "\"", 1, 2, 3}},
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
        EXPECT_EQ(irc::parseDccOffer(c.kind, line(c.body)), c.offer) << c.body.toStdString();
}

TEST(DccOffer, SurvivesHostileLines)
{
    // No prefix, twenty fields, a sender without user@host: read or dropped, never a crash.
    const auto bare = irc::parseDccOffer(DccKind::Chat, "PRIVMSG alice :\001DCC CHAT chat 1 2");
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->port, 2);
    QByteArray many = "DCC SEND f";
    for (int i = 0; i < 20; ++i)
        many += ' ' + QByteArray::number(i + 1);
    EXPECT_TRUE(irc::parseDccOffer(DccKind::Send, line(many)));
    const auto noHost = irc::parseDccOffer(DccKind::Chat, ":bob PRIVMSG a :\001DCC CHAT chat 1 2");
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
        {0xC0A80101, 4000, false, false}, {0xC0A80101, 1024, false, false},
        {0xC0A80101, 1023, false, true},  {0xC0A80101, 0, false, true},
        {0xC0A80101, 22, false, true},    {0, 4000, false, true},
        {0x7F000001, 4000, false, true},  {0x7F000001, 4000, true, false},
        {0xE0000001, 4000, false, true},  {0xEFFFFFFF, 4000, true, true},
        {0xFFFFFFFF, 4000, true, true},   {0xF0000001, 4000, false, true},
        {0x00000005, 4000, false, true},
    };
    for (const Case& c : cases) {
        const DccOffer offer{DccKind::Chat, "bob", "", c.address, c.port, 0};
        EXPECT_EQ(irc::offerRefusal(offer, c.serverOnLoopback).has_value(), c.refused)
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
        {".bashrc", ".bashrc"},
        {"a\001b\nc\x7f", "a_b_c_"},
        {"%s%n%x", "%s%n%x"},
        {"", std::nullopt},
        {"..", std::nullopt},
        {"dir/..", std::nullopt},
        {"dir/", std::nullopt},
        {"...", std::nullopt},
    };
    for (const auto& [offered, safe] : cases)
        EXPECT_EQ(irc::SafeFileName(offered), safe) << offered.toStdString();

    EXPECT_EQ(irc::SafeFileName(QByteArray(300, 'n'))->size(), 255);
    // 254 ASCII bytes then a two-byte character: the cut keeps whole characters.
    const QByteArray accented = QByteArray(254, 'a') + "\xc3\xa9" + "tail";
    EXPECT_EQ(*irc::SafeFileName(accented), QByteArray(254, 'a'));
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
    EXPECT_FALSE(irc::formatFileOffer("bob", "x\r\nQUIT", 1, 2000, 3));
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
