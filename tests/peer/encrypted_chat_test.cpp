#include "peer/chat/direct_chat_framer.h"
#include "peer/crypto/encrypted_chat.h"

#include <QByteArray>
#include <QList>
#include <QtEndian>
#include <gtest/gtest.h>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <algorithm>
#include <openssl/blowfish.h>
#include <ostream>
#include <string>
#include <vector>

namespace peer {

void PrintTo(const DirectChatEvent& event, std::ostream* out)
{
    *out << "{kind " << int(event.kind) << ", " << event.data.toHex().constData() << "}";
}

} // namespace peer

namespace {

using peer::DirectChatEvent;
using Kind = peer::DirectChatEventKind;

const QByteArray kKey = "0123456789abcdef";

peer::BlowfishState stateFor(const QByteArray& key)
{
    peer::BlowfishState state;
    peer::installChatKey(state, key);
    return state;
}

QByteArray header(quint32 lengthField)
{
    const quint32 wire = qToBigEndian(lengthField);
    return QByteArray(reinterpret_cast<const char*>(&wire), 4);
}

// The packet built with OpenSSL's cipher, straight from the wire layout: big-endian length,
// little-endian halves, LF.
QByteArray referencePacket(const QByteArray& key, const QByteArray& text)
{
    BF_KEY bf;
    BF_set_key(&bf, int(key.size()), reinterpret_cast<const unsigned char*>(key.data()));
    QByteArray padded = text;
    while (padded.size() % 8 != 0)
        padded.append('\0');
    QByteArray packet = header(quint32(padded.size()) + 4);
    for (int at = 0; at < padded.size(); at += 8) {
        BF_LONG block[2] = {qFromLittleEndian<quint32>(padded.constData() + at),
                            qFromLittleEndian<quint32>(padded.constData() + at + 4)};
        BF_encrypt(block, &bf);
        const quint32 halves[2] = {qToLittleEndian(quint32(block[0])),
                                   qToLittleEndian(quint32(block[1]))};
        packet.append(reinterpret_cast<const char*>(halves), 8);
    }
    packet.append('\n');
    return packet;
}

QByteArray printableText(int length, int seed)
{
    QByteArray text;
    for (int i = 0; i < length; ++i)
        text.append(static_cast<char>(' ' + (i * 7 + seed) % 95));
    return text;
}

// --- sealing and opening ---

TEST(SealChatText, MatchesTheWireLayoutByteForByte)
{
    const peer::BlowfishState state = stateFor(kKey);
    for (int length = 0; length <= peer::kMaxSealedText; ++length) {
        const QByteArray text = printableText(length, length);
        const auto packet = peer::SealChatText(state, text);
        ASSERT_TRUE(packet) << "length " << length;
        ASSERT_EQ(*packet, referencePacket(kKey, text)) << "length " << length;

        const auto opened = peer::OpenChatPacket(state, *packet);
        ASSERT_TRUE(opened) << "length " << length;
        EXPECT_EQ(opened->text, text);
        EXPECT_EQ(opened->ciphertext, packet->mid(4, packet->size() - 5));
    }
}

// A text over 504 bytes would need L = 516, which peers of the first version drop unseen.
TEST(SealChatText, SizesThePacketInWholeBlocksAndRefusesWhatOlderPeersDrop)
{
    const struct
    {
        int textLength;
        quint32 lengthField; // 0: refused
    } cases[] = {{0, 4},   {1, 12},    {7, 12},  {8, 12},  {9, 20},  {16, 20},
                 {17, 28}, {504, 508}, {505, 0}, {511, 0}, {512, 0}, {4096, 0}};
    const peer::BlowfishState state = stateFor(kKey);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.textLength);
        const auto packet = peer::SealChatText(state, QByteArray(c.textLength, 'x'));
        ASSERT_EQ(packet.has_value(), c.lengthField != 0);
        if (!packet)
            continue;
        EXPECT_EQ(packet->left(4), header(c.lengthField));
        EXPECT_EQ(packet->size(), qsizetype(c.lengthField) + 1);
        EXPECT_EQ(packet->back(), '\n');
    }
}

TEST(OpenChatPacket, OpensTheReferencePacketWithOrWithoutItsLineEnd)
{
    const struct
    {
        const char* why;
        QByteArray sealed;
        QByteArray text;
    } cases[] = {
        {"eight characters arrive with nothing after them", "abcdefgh", "abcdefgh"},
        {"the text ends at the first zero byte", QByteArray("ab\0cd", 5), "ab"},
        {"a short text", "hello", "hello"},
    };
    const peer::BlowfishState state = stateFor(kKey);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        const QByteArray packet = referencePacket(kKey, c.sealed);
        const auto withEnd = peer::OpenChatPacket(state, packet);
        ASSERT_TRUE(withEnd);
        EXPECT_EQ(withEnd->text, c.text);
        EXPECT_EQ(peer::OpenChatPacket(state, packet.chopped(1)), withEnd);
    }
}

TEST(OpenChatPacket, RefusesMalformedPackets)
{
    const peer::BlowfishState state = stateFor(kKey);
    const QByteArray good = referencePacket(kKey, "hello"); // L = 12
    const QByteArray body = good.mid(4);
    // 511 characters pad to 512 ciphertext bytes, L = 516: past the bound.
    const QByteArray overLong = referencePacket(kKey, printableText(511, 3));
    ASSERT_EQ(overLong.left(4), header(516));
    const struct
    {
        const char* name;
        QByteArray packet;
    } cases[] = {
        {"empty", {}},
        {"short header", QByteArray("\0\0\0", 3)},
        {"L 0", header(0) + body},
        {"L 3", header(3)},
        {"L 516: 511 characters sealed", overLong},
        {"L 512", header(512) + QByteArray(509, 'x')},
        {"L 515", header(515) + QByteArray(512, 'x')},
        {"L 517", header(517) + QByteArray(514, 'x')},
        {"L 524", header(524) + QByteArray(521, 'x')},
        {"L max", header(0xFFFFFFFF) + body},
        {"L 13: not whole blocks", header(13) + body},
        {"fewer bytes than L", good.left(10)},
        {"bytes after the LF", good + "x"},
        {"other byte for the LF", good.chopped(1) + "x"},
        {"server text", "hello there, this is plain\n"},
    };
    for (const auto& c : cases)
        EXPECT_FALSE(peer::OpenChatPacket(state, c.packet)) << c.name;
}

TEST(SplitChatText, CutsIntoSealablePiecesWithoutBreakingUtf8)
{
    const QByteArray ascii(1000, 'a');
    const QList<QByteArray> asciiPieces = peer::splitChatText(ascii);
    ASSERT_EQ(asciiPieces.size(), 2);
    EXPECT_EQ(asciiPieces[0].size(), 504);
    EXPECT_EQ(asciiPieces.join(), ascii);

    // "é" (C3 A9) straddles the 504th byte.
    const QByteArray accented = QByteArray(503, 'a') + "\xC3\xA9" + QByteArray(10, 'b');
    const QList<QByteArray> pieces = peer::splitChatText(accented);
    ASSERT_EQ(pieces.size(), 2);
    EXPECT_EQ(pieces[0].size(), 503);
    EXPECT_TRUE(pieces[1].startsWith("\xC3\xA9"));
    EXPECT_EQ(pieces.join(), accented);

    EXPECT_TRUE(peer::splitChatText({}).isEmpty());
    const QByteArray garbage(2000, '\x80');
    for (const QByteArray& piece : peer::splitChatText(garbage))
        EXPECT_TRUE(peer::SealChatText(stateFor(kKey), piece));
}

// --- keys ---

peer::RandomSource scripted(QList<quint32> values)
{
    return [values, next = 0]() mutable {
        if (next >= values.size())
            ADD_FAILURE() << "the key maker drew more values than scripted";
        return next < values.size() ? values[next++] : 1u;
    };
}

// Draws of 0 and 255 are drawn again instead of folded into range, and so is a key that would
// begin with "END".
TEST(MakeChatKey, RedrawsZeroTwoFiftyFiveAndAKeyThatBeginsWithEnd)
{
    QList<quint32> inRange = {0, 255, 0x100, 0xABCDEFFF};
    QByteArray expected;
    for (quint32 i = 1; i <= 16; ++i) {
        inRange.append(0x12345600 | i);
        expected.append(char(i));
    }
    EXPECT_EQ(peer::MakeChatKey(scripted(inRange)), expected);

    QList<quint32> end = {'E', 'N', 'D'};
    for (int i = 0; i < 13; ++i)
        end.append('x');
    end.append({'E', 'N', 'x'});
    for (int i = 0; i < 13; ++i)
        end.append('y');
    EXPECT_EQ(peer::MakeChatKey(scripted(end)), "ENx" + QByteArray(13, 'y'));
}

TEST(MakeChatKey, SystemKeysHaveSixteenBytesInRange)
{
    QList<QByteArray> keys;
    for (int i = 0; i < 300; ++i) {
        const QByteArray key = peer::MakeChatKey();
        ASSERT_EQ(key.size(), peer::kChatKeyLength);
        for (char c : key) {
            const int value = static_cast<quint8>(c);
            ASSERT_GE(value, 1);
            ASSERT_LE(value, 254);
        }
        EXPECT_FALSE(key.startsWith("END"));
        keys.append(key);
    }
    // Two chats opened in the same second must not share a key.
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(std::adjacent_find(keys.begin(), keys.end()), keys.end());
}

TEST(ChatKeyMessage, IsTwentySixBytesWithoutLineEnd)
{
    const QByteArray key("\001\n k\001\002\003\004\005\006\007\010\011\013\014\xfe", 16);
    const auto message = peer::chatKeyMessage(key);
    ASSERT_TRUE(message);
    EXPECT_EQ(*message, QByteArray("\001") + "ENCRYPT " + key + "\001");
    EXPECT_EQ(message->size(), peer::kKeyMessageLength);
    EXPECT_FALSE(peer::chatKeyMessage(key.left(15)));
    EXPECT_FALSE(peer::chatKeyMessage(key + "x"));

    EXPECT_EQ(QByteArray(peer::kEndMessage), QByteArray("\001") + "ENCRYPT END" + "\001");
}

TEST(InstallChatKey, TakesExactlySixteenBytes)
{
    peer::BlowfishState state;
    EXPECT_FALSE(peer::installChatKey(state, "short"));
    EXPECT_TRUE(state.isZero());
    EXPECT_TRUE(peer::installChatKey(state, kKey));
    peer::BlowfishState direct;
    peer::BlowfishInit(direct, kKey);
    EXPECT_EQ(state, direct);
    EXPECT_FALSE(peer::installChatKey(state, kKey + "x"));
    EXPECT_TRUE(state.isZero());
}

// --- the direct link's framing ---

DirectChatEvent event(Kind kind, const QByteArray& data = {})
{
    return {kind, data};
}

QByteArray keyMessage(const QByteArray& key)
{
    return *peer::chatKeyMessage(key);
}

// Key bytes that a search for the closing 0x01, a line end or a blank would cut short.
const QByteArray kAwkwardKey("\001\n \001ENCRYPT\n\r\001 \xfe", 16);

TEST(DirectChatFramer, SplitsPlainLinesAndStripsOneCarriageReturn)
{
    peer::DirectChatFramer framer;
    const QList<DirectChatEvent> expected = {event(Kind::Text, "a"), event(Kind::Text, "b\r"),
                                             event(Kind::Text, ""),
                                             event(Kind::Text, QByteArray("n\0ul", 4))};
    const char stream[] = "a\nb\r\r\n\nn\0ul\ntail";
    EXPECT_EQ(framer.feed(QByteArray(stream, sizeof(stream) - 1)), expected);
    EXPECT_TRUE(framer.hasPartialFrame());
    EXPECT_EQ(framer.feed("\n"), QList<DirectChatEvent>{event(Kind::Text, "tail")});
    // Our own key sent: what follows is packets.
    framer.setEncrypted(true);
    const QByteArray packet = *peer::SealChatText(stateFor(kKey), "");
    EXPECT_EQ(framer.feed(packet), QList<DirectChatEvent>{event(Kind::Packet, packet)});
}

struct Conversation
{
    QByteArray stream;
    QList<DirectChatEvent> events;
};

Conversation conversation()
{
    const peer::BlowfishState state = stateFor(kAwkwardKey);
    const QByteArray first = *peer::SealChatText(state, "sealed one");
    const QByteArray second = *peer::SealChatText(state, QByteArray(40, '\n'));
    Conversation c;
    c.stream = "hi there\r\nsecond\n" + keyMessage(kAwkwardKey) + first + second + peer::kEndMessage
               + "plain again\n";
    c.events = {event(Kind::Text, "hi there"),   event(Kind::Text, "second"),
                event(Kind::Key, kAwkwardKey),   event(Kind::Packet, first),
                event(Kind::Packet, second),     event(Kind::End),
                event(Kind::Text, "plain again")};
    return c;
}

// A cut at either end gives the whole conversation, all its packets, in one read.
TEST(DirectChatFramer, FramesTheSameWhereverTheReadsSplit)
{
    const Conversation c = conversation();
    for (qsizetype cut = 0; cut <= c.stream.size(); ++cut) {
        peer::DirectChatFramer framer;
        QList<DirectChatEvent> events = framer.feed(c.stream.left(cut));
        events += framer.feed(c.stream.mid(cut));
        ASSERT_EQ(events, c.events) << "cut at " << cut;
        EXPECT_FALSE(framer.hasPartialFrame());
        EXPECT_FALSE(framer.isEncrypted());
    }

    peer::DirectChatFramer byteByByte;
    QList<DirectChatEvent> events;
    for (char byte : c.stream)
        events += byteByByte.feed(QByteArrayView(&byte, 1));
    ASSERT_EQ(events, c.events);
    // What the keyed peer decrypts opens with the key it framed.
    peer::BlowfishState state;
    ASSERT_TRUE(peer::installChatKey(state, events[2].data));
    const auto opened = peer::OpenChatPacket(state, events[3].data);
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->text, "sealed one");
}

// After a fault every byte is dropped until reset(), whichever mode the framer was in.
TEST(DirectChatFramer, FaultsOnABrokenFrameAndReadsNothingAfter)
{
    struct Case
    {
        std::string why;
        bool encrypted;
        QByteArray stream;
    };
    std::vector<Case> cases;
    for (quint32 lengthField : {0u, 1u, 2u, 3u, 5u, 13u, 512u, 513u, 516u, 517u, 524u, 0xFFFFFFu})
        cases.push_back({"length field " + std::to_string(lengthField), true,
                         header(lengthField) + QByteArray(20, '\0') + "\n"});
    QByteArray unclosedPacket = *peer::SealChatText(stateFor(kKey), "hello");
    unclosedPacket.back() = 'x';
    cases.push_back({"a packet not closed by its line end", true, unclosedPacket});
    QByteArray unclosedKey = keyMessage(kKey);
    unclosedKey.back() = 'x';
    cases.push_back({"a key message without its closing mark", false, unclosedKey});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        peer::DirectChatFramer framer;
        framer.setEncrypted(c.encrypted);
        const QList<DirectChatEvent> events = framer.feed(c.stream);
        ASSERT_EQ(events.size(), 1);
        EXPECT_EQ(events[0].kind, Kind::Fault);
        EXPECT_TRUE(framer.hasFault());
        EXPECT_TRUE(framer.feed(*peer::SealChatText(stateFor(kKey), "x")).isEmpty());

        framer.reset();
        EXPECT_EQ(framer.feed("again\n"), QList<DirectChatEvent>{event(Kind::Text, "again")});
    }
}

TEST(DirectChatFramer, BoundsALineThatNeverEnds)
{
    const QByteArray mebibyte(1 << 20, 'z');
    const QByteArray chunked[] = {mebibyte, QByteArray(4096, 'z')};
    for (const QByteArray& chunk : chunked) {
        peer::DirectChatFramer framer;
        QList<DirectChatEvent> events;
        for (qsizetype sent = 0; sent < mebibyte.size(); sent += chunk.size())
            events += framer.feed(chunk);
        EXPECT_EQ(events, QList<DirectChatEvent>{event(Kind::LineCut)});
        EXPECT_FALSE(framer.hasPartialFrame());
        EXPECT_EQ(framer.feed("rest of it\nnext\n"),
                  QList<DirectChatEvent>{event(Kind::Text, "next")});
    }

    peer::DirectChatFramer framer;
    const QByteArray longest(peer::DirectChatFramer::kMaxLineLength, 'y');
    EXPECT_EQ(framer.feed(longest + "\n"), QList<DirectChatEvent>{event(Kind::Text, longest)});
    EXPECT_EQ(framer.feed(longest + "y\nz\n"),
              (QList<DirectChatEvent>{event(Kind::LineCut), event(Kind::Text, "z")}));
}

TEST(DirectChatFramer, FramesControlMessagesAndStrayLines)
{
    const QByteArray stem = QByteArray("\001") + "ENCRYPT END";
    const QByteArray endMessage = peer::kEndMessage;
    const QByteArray key = keyMessage(kKey);
    const QByteArray sealed = *peer::SealChatText(stateFor(kKey), "sealed");
    const QByteArray rekeyed = *peer::SealChatText(stateFor(kAwkwardKey), "after");
    const QByteArray rekeying = keyMessage(kAwkwardKey) + rekeyed;
    const auto text = [](const QByteArray& line) { return event(Kind::Text, line); };
    const auto packet = [](const QByteArray& bytes) { return event(Kind::Packet, bytes); };
    const DirectChatEvent end = event(Kind::End);
    const DirectChatEvent newKey = event(Kind::Key, kKey);
    const DirectChatEvent awkwardKey = event(Kind::Key, kAwkwardKey);
    const DirectChatEvent unsealed = event(Kind::UnsealedText, "typed early");
    const struct
    {
        bool encrypted;
        bool encryptedAfter;
        const char* why;
        QList<QByteArray> reads;
        QList<DirectChatEvent> expected;
    } cases[] = {
        // The end message, with and without its closing 0x01.
        {true, false, "closed end", {stem + "\001hello\n"}, {end, text("hello")}},
        {true, false, "bare end", {stem + "hello\n"}, {end, text("hello")}},
        {true, false, "bare end, alone", {stem}, {end}},
        {true, false, "0x01 in the next read", {stem, "\001", "hello\n"}, {end, text("hello")}},
        {true, false, "0x01, then E...", {stem + "\001", "Everyone\n"}, {end, text("Everyone")}},
        {true, true, "bare end, then a new key", {stem + key}, {end, newKey}},
        {true, true, "closed end, then a new key", {stem + "\001" + key}, {end, newKey}},
        {false, false, "end without a key: consumed", {endMessage + "hi\n"}, {text("hi")}},
        {true, true, "new key while encrypted", {rekeying}, {awkwardKey, packet(rekeyed)}},
        // Often a line the peer typed before our key reached it: not shown as if sealed, and
        // the packet after it still frames.
        {true, true, "stray plain text", {"typed early\r\n" + sealed}, {unsealed, packet(sealed)}},
        // Lines that start like a key message but are not one.
        {false, false, "ENCX", {"\001ENCX\n"}, {text("\001ENCX")}},
        {false, false, "ENCRYPTION", {"\001ENCRYPTION on\n"}, {text("\001ENCRYPTION on")}},
        {false, false, "another CTCP", {"\001ACTION waves\001\n"}, {text("\001ACTION waves\001")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        peer::DirectChatFramer framer;
        framer.setEncrypted(c.encrypted);
        QList<DirectChatEvent> events;
        for (const QByteArray& read : c.reads)
            events += framer.feed(read);
        EXPECT_EQ(events, c.expected);
        EXPECT_EQ(framer.isEncrypted(), c.encryptedAfter);
    }
}

TEST(DirectChatFramer, WaitsOnWhatMayBecomeAKeyMessage)
{
    const QByteArray message = keyMessage(kAwkwardKey);
    for (qsizetype length = 1; length < message.size(); ++length) {
        peer::DirectChatFramer partial;
        EXPECT_TRUE(partial.feed(message.left(length)).isEmpty()) << length;
        EXPECT_TRUE(partial.hasPartialFrame());
    }
}

} // namespace

#pragma GCC diagnostic pop
