#include "peer/crypto/fish.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <gtest/gtest.h>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <openssl/blowfish.h>
#include <random>
#include <string>

namespace peer {

void PrintTo(const OpenedFishText& opened, std::ostream* out)
{
    *out << "{status " << int(opened.status) << ", mode " << int(opened.mode) << ", \""
         << opened.text.toStdString() << "\"}";
}

} // namespace peer

namespace {

using peer::FishMode;
using Status = peer::OpenedFishText::Status;

peer::FishKey keyFor(QByteArrayView key)
{
    peer::FishKey fishKey;
    EXPECT_TRUE(fishKey.set(key));
    return fishKey;
}

// A source that counts, with high bits set that must not reach the IV.
peer::RandomSource countingSource(quint32 start)
{
    auto next = std::make_shared<quint32>(start);
    return [next] { return 0xA5A5A500u | ((*next)++ & 0xFF); };
}

QByteArray randomBytes(std::mt19937& random, qsizetype size)
{
    std::uniform_int_distribution<int> byte(0, 255);
    QByteArray bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(byte(random));
    return bytes;
}

QByteArray zeroPadded(QByteArray text)
{
    while (text.size() % 8 != 0)
        text.append('\0');
    return text;
}

// OpenSSL's Blowfish reads and writes blocks big-endian, which is what FiSH needs.
QByteArray opensslEcb(const QByteArray& key, const QByteArray& data, int direction)
{
    BF_KEY bf;
    BF_set_key(&bf, int(key.size()), reinterpret_cast<const unsigned char*>(key.data()));
    QByteArray out(data.size(), '\0');
    for (qsizetype at = 0; at < data.size(); at += 8) {
        BF_ecb_encrypt(reinterpret_cast<const unsigned char*>(data.data() + at),
                       reinterpret_cast<unsigned char*>(out.data() + at), &bf, direction);
    }
    return out;
}

QByteArray opensslCbc(const QByteArray& key, const QByteArray& iv, const QByteArray& data,
                      int direction)
{
    BF_KEY bf;
    BF_set_key(&bf, int(key.size()), reinterpret_cast<const unsigned char*>(key.data()));
    unsigned char chain[8];
    std::copy(iv.begin(), iv.end(), chain);
    QByteArray out(data.size(), '\0');
    BF_cbc_encrypt(reinterpret_cast<const unsigned char*>(data.data()),
                   reinterpret_cast<unsigned char*>(out.data()), long(data.size()), &bf, chain,
                   direction);
    return out;
}

TEST(FishBase64, RoundTripsEveryWholeNumberOfBlocksAndLeavesOutTheRest)
{
    std::mt19937 random(7);
    for (qsizetype blocks = 0; blocks <= 64; ++blocks) {
        const QByteArray bytes = randomBytes(random, 8 * blocks);
        const QByteArray text = peer::fishBase64Encode(bytes);
        ASSERT_EQ(text.size(), 12 * blocks);
        EXPECT_EQ(peer::fishBase64Decode(text), bytes) << blocks << " blocks";
        const QByteArray withRest = bytes + randomBytes(random, 1 + blocks % 7);
        EXPECT_EQ(peer::fishBase64Encode(withRest), text);
    }
}

// Each block is its right half first, six bits at a time from the low end; these pin the
// alphabet, the order of the halves and the order of the bits.
TEST(FishBase64, MatchesKnownBlocks)
{
    const struct
    {
        const char* hex;
        const char* text;
    } cases[] = {
        {"0000000000000000", "............"}, {"0000000000000001", "/..........."},
        {"0000000100000000", "....../....."}, {"000000000000003f", "Z..........."},
        {"0000000000000040", "./.........."}, {"00000000c0000000", ".....1......"},
        {"ffffffffffffffff", "ZZZZZ1ZZZZZ1"}, {"0123456789abcdef", "JRWE70BjO6/."},
    };
    for (const auto& c : cases) {
        const QByteArray bytes = QByteArray::fromHex(c.hex);
        EXPECT_EQ(peer::fishBase64Encode(bytes), c.text) << c.hex;
        EXPECT_EQ(peer::fishBase64Decode(c.text), bytes) << c.text;
    }
}

TEST(FishBase64, RefusesPartialGroupsAndForeignCharacters)
{
    const QByteArray refused[] = {
        "a",
        "...........",
        ".............",
        "............a",
        "+...........",
        "...........=",
        "..... ......",
        QByteArray("......\0.....", 12),
        "......\xC3\xA9....",
        "............-...........",
    };
    for (const QByteArray& text : refused)
        EXPECT_EQ(peer::fishBase64Decode(text), std::nullopt) << text.toStdString();
}

// The first is the vector FiSH users quote; the rest were made by WeeChat's fish.py
// (blowcrypt_pack over pycryptodome's Blowfish).
TEST(FishEcb, MatchesPublishedAndFishPyMessages)
{
    const struct
    {
        const char* key;
        const char* text;
        const char* message;
    } cases[] = {
        {"fishkey", "Hello world", "+OK O7tsL0iStsR0moZNg0rHQJE1"},
        {"secret", "abc", "+OK bbfjl1j0FmH."},
        {"abcd", "exactly8", "+OK VhIWC.6umfU0"},
        {"Kivvo-key-56bytes-long-xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx",
         "h\xC3\xA9llo w\xC3\xB6rld, \xC3\xA7"
         "a va? \xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E \xE2\x9C\x93",
         "+OK e7Yep10Ooxn0hFocE/Mceio0qMOLG/AuQHx/rnsB01cLDjB/edo6l1cnxjl1"},
        {"cbcx", "The quick brown fox jumps over the lazy dog",
         "+OK go7b/.8BnnD1IDXcK0LBVq.0DDuEh/GF0uq0c2d0U0.C2bb.j/1Hu0J2KxL1Udm3O03lGg31"},
    };
    for (const auto& c : cases) {
        const peer::FishKey key = keyFor(c.key);
        EXPECT_EQ(peer::sealFishText(key, FishMode::Ecb, c.text), c.message);
        const peer::OpenedFishText expected{Status::Opened, c.text, FishMode::Ecb};
        EXPECT_EQ(peer::openFishText(key, c.message), expected);
        QByteArray mircryption = c.message;
        mircryption.replace(0, 4, "mcps ");
        EXPECT_EQ(peer::openFishText(key, mircryption), expected);
    }
}

// OpenSSL's Blowfish is the independent implementation: what we seal it opens, and what it seals
// we open, in both modes; CBC also read the way ZNC does, and with or without base64 padding.
TEST(FishModes, AgreeWithOpenSslBothWays)
{
    std::mt19937 random(20240612);
    std::uniform_int_distribution<int> textLength(1, 300);
    std::uniform_int_distribution<int> printable(' ', '~');
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const QByteArray key = randomBytes(random, 1 + round % 56);
        QByteArray text(textLength(random), '\0');
        for (char& c : text)
            c = static_cast<char>(printable(random));
        const peer::FishKey fishKey = keyFor(key);

        const QByteArray ecb =
            "+OK " + peer::fishBase64Encode(opensslEcb(key, zeroPadded(text), BF_ENCRYPT));
        ASSERT_EQ(peer::sealFishText(fishKey, FishMode::Ecb, text), ecb);
        ASSERT_EQ(peer::openFishText(fishKey, ecb),
                  (peer::OpenedFishText{Status::Opened, text, FishMode::Ecb}));

        const quint32 start = random();
        const QByteArray message =
            peer::sealFishText(fishKey, FishMode::Cbc, text, countingSource(start));
        ASSERT_TRUE(message.startsWith("+OK *"));
        const QByteArray wire = QByteArray::fromBase64(message.sliced(5));
        ASSERT_EQ(wire.size(), 8 + zeroPadded(text).size());
        QByteArray iv;
        for (quint32 i = 0; i < 8; ++i)
            iv.append(static_cast<char>((start + i) & 0xFF));
        ASSERT_EQ(wire.first(8), iv);
        EXPECT_EQ(opensslCbc(key, iv, wire.sliced(8), BF_DECRYPT), zeroPadded(text));
        // Read the way ZNC does: the whole under a zero IV, the first block dropped.
        EXPECT_EQ(opensslCbc(key, QByteArray(8, '\0'), wire, BF_DECRYPT).sliced(8),
                  zeroPadded(text));

        const QByteArray theirIv = randomBytes(random, 8);
        const QByteArray theirs = theirIv + opensslCbc(key, theirIv, zeroPadded(text), BF_ENCRYPT);
        const peer::OpenedFishText expected{Status::Opened, text, FishMode::Cbc};
        EXPECT_EQ(peer::openFishText(fishKey, "+OK *" + theirs.toBase64()), expected);
        EXPECT_EQ(
            peer::openFishText(fishKey, "+OK *" + theirs.toBase64(QByteArray::OmitTrailingEquals)),
            expected);
        EXPECT_EQ(peer::openFishText(fishKey, "mcps *" + theirs.toBase64()), expected);
    }
}

// Made with pycryptodome's Blowfish-CBC (IV 0102030405060708) and checked with fish.py's
// blowcrypt_unpack.
TEST(FishCbc, OpensFishPyMessages)
{
    const struct
    {
        const char* key;
        const char* text;
        const char* message;
    } cases[] = {
        {"fishkey", "Hello world", "+OK *AQIDBAUGBwicznaO+WUpt59Bavi3tMYo"},
        {"secret", "a longer line of text in CBC mode",
         "+OK *AQIDBAUGBwgiUKcE+JwowP5/irgUeumWv5D+LjsPWQHMJv/1GK+rYL2ASLBvZyXy"},
    };
    for (const auto& c : cases) {
        const peer::FishKey key = keyFor(c.key);
        EXPECT_EQ(peer::openFishText(key, c.message),
                  (peer::OpenedFishText{Status::Opened, c.text, FishMode::Cbc}));
        EXPECT_EQ(peer::sealFishText(key, FishMode::Cbc, c.text, countingSource(1)), c.message);
    }
}

TEST(FishOpen, TellsPlainFromUndecryptable)
{
    const peer::FishKey key = keyFor("fishkey");
    // What "fishkey" could read from blocks that another key made: garbage that holds a line
    // break, or that starts with a zero byte.
    const auto garbage = [](const QByteArray& plain) {
        return "+OK " + peer::fishBase64Encode(opensslEcb("fishkey", plain, BF_ENCRYPT));
    };
    const auto cbcGarbage = [](const QByteArray& plain) {
        const QByteArray iv = "\x01\x02\x03\x04\x05\x06\x07\x08";
        return "+OK *" + (iv + opensslCbc("fishkey", iv, plain, BF_ENCRYPT)).toBase64();
    };
    // A real message of ours with four bytes more: no longer whole blocks.
    const QByteArray cbcRagged =
        (QByteArray::fromBase64(peer::sealFishText(key, FishMode::Cbc, "hello").mid(5)) + "abcd")
            .toBase64();
    const QByteArray cbcIvOnly = QByteArray(8, 'x').toBase64();
    const QByteArray cbcTwelve = QByteArray(12, 'x').toBase64();
    const struct
    {
        QByteArray message;
        Status status;
        FishMode mode;
    } cases[] = {
        {"Hello", Status::Plain, FishMode::Ecb},
        {"", Status::Plain, FishMode::Ecb},
        {"+OK", Status::Plain, FishMode::Ecb},
        {"+OKO7tsL0iStsR0moZNg0rHQJE1", Status::Plain, FishMode::Ecb},
        {" +OK O7tsL0iStsR0moZNg0rHQJE1", Status::Plain, FishMode::Ecb},
        {"mcps", Status::Plain, FishMode::Ecb},
        {"+OK ", Status::Undecryptable, FishMode::Ecb},
        {"+OK *", Status::Undecryptable, FishMode::Cbc},
        {"mcps ", Status::Undecryptable, FishMode::Ecb},
        {"+OK O7tsL0iStsR0moZNg0rHQJE", Status::Undecryptable, FishMode::Ecb},
        {"+OK O7tsL0iStsR0moZNg0rHQJE1.", Status::Undecryptable, FishMode::Ecb},
        {"+OK O7tsL0iStsR0moZNg0rHQJE1 ", Status::Undecryptable, FishMode::Ecb},
        {"+OK O7tsL0iStsR0moZNg0rHQJ+1", Status::Undecryptable, FishMode::Ecb},
        {garbage("abc\ndefghijklmno"), Status::Undecryptable, FishMode::Ecb},
        {garbage("abcdefghijk\rlmno"), Status::Undecryptable, FishMode::Ecb},
        {garbage(QByteArray(16, '\0')), Status::Undecryptable, FishMode::Ecb},
        {garbage(QByteArray("\0bcdefgh", 8)), Status::Undecryptable, FishMode::Ecb},
        {cbcGarbage("abcdefgh\nbcdefgh"), Status::Undecryptable, FishMode::Cbc},
        {cbcGarbage(QByteArray(8, '\0')), Status::Undecryptable, FishMode::Cbc},
        {"+OK *" + cbcIvOnly, Status::Undecryptable, FishMode::Cbc},
        {"+OK *" + cbcRagged, Status::Undecryptable, FishMode::Cbc},
        {"+OK *" + cbcTwelve, Status::Undecryptable, FishMode::Cbc},
        {"+OK *" + QByteArray(20, 'x').toBase64(), Status::Undecryptable, FishMode::Cbc},
        {"+OK *AQIDBAUGBwicznaO+WUpt59Bavi3tMYo!", Status::Undecryptable, FishMode::Cbc},
        {"+OK *AQIDBAUGBwicznaO+WUpt59Bavi3tMYoA", Status::Undecryptable, FishMode::Cbc},
        {"+OK *AQIDBAUGBwicznaO WUpt59Bavi3tMYo", Status::Undecryptable, FishMode::Cbc},
    };
    for (const auto& c : cases) {
        const peer::OpenedFishText opened = peer::openFishText(key, c.message);
        EXPECT_EQ(opened.status, c.status) << c.message.toStdString();
        EXPECT_EQ(opened.mode, c.mode) << c.message.toStdString();
        EXPECT_TRUE(opened.text.isEmpty()) << c.message.toStdString();
    }
}

TEST(FishOpen, OnlyPaddingMayFollowTheTextAndAnUnsetKeyOpensNothing)
{
    // Nobody sends a NUL inside a line; bytes after one are what another key decrypts to.
    const peer::FishKey key = keyFor("fishkey");
    const QByteArray message =
        peer::sealFishText(key, FishMode::Ecb, QByteArray("left\0right", 10));
    EXPECT_EQ(peer::openFishText(key, message).status, Status::Undecryptable);
    EXPECT_EQ(peer::openFishText(key, peer::sealFishText(key, FishMode::Cbc, "left")),
              (peer::OpenedFishText{Status::Opened, "left", FishMode::Cbc}));

    const peer::FishKey unset;
    EXPECT_EQ(peer::openFishText(unset, "+OK O7tsL0iStsR0moZNg0rHQJE1").status,
              Status::Undecryptable);
    EXPECT_TRUE(peer::sealFishText(unset, FishMode::Ecb, "text").isEmpty());
}

// FiSH carries no integrity check, as the texts tell the user: a line whose first block was
// dropped, or that was cut after a block, still opens as an encrypted line.
TEST(FishOpen, ALineShortenedByWholeBlocksStillOpens)
{
    const peer::FishKey key = keyFor("fishkey");
    const QByteArray text = "pay alice 500 EUR, not 5000"; // 27 bytes: four blocks
    const QByteArray ecb = peer::sealFishText(key, FishMode::Ecb, text).mid(4);
    ASSERT_EQ(ecb.size(), 4 * 12);
    const QByteArray cbc =
        QByteArray::fromBase64(peer::sealFishText(key, FishMode::Cbc, text).mid(5));
    ASSERT_EQ(cbc.size(), 5 * 8);
    const struct
    {
        QByteArray message;
        QByteArray opens;
    } cases[] = {
        {"+OK " + ecb.mid(12), text.mid(8)},
        {"+OK " + ecb.first(36), text.first(24)},
        {"+OK *" + cbc.mid(8).toBase64(), text.mid(8)}, // the first block stands as the IV
        {"+OK *" + cbc.first(32).toBase64(), text.first(24)},
    };
    for (const auto& c : cases) {
        const peer::OpenedFishText opened = peer::openFishText(key, c.message);
        EXPECT_EQ(opened.status, Status::Opened) << c.message.constData();
        EXPECT_EQ(opened.text, c.opens);
    }
}

TEST(FishMessage, RecognisesTheFormWhateverTheKey)
{
    const struct
    {
        QByteArray message;
        bool fish;
    } cases[] = {
        {"+OK O7tsL0iStsR0moZNg0rHQJE1", true},
        {"mcps O7tsL0iStsR0moZNg0rHQJE1", true},
        {"+OK *AQIDBAUGBwicznaO+WUpt59Bavi3tMYo", true},
        {"+OK *AQIDBAUGBwgJCgsMDQ4PEA==", true},
        {"+OK *AQIDBAUGBwgJCgsMDQ4PEA", true},
        {"+OK *AQIDBAUGBwicznaO+WUpt59Bavi3tMYo=", false},
        {"+OK ", false},
        {"+OK *", false},
        {"+OK O7tsL0iStsR0moZNg0rHQJE", false},
        {"+OK *AQIDBAUGBwg=", false},
        {"OK O7tsL0iStsR0moZNg0rHQJE1", false},
        {"hello", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(peer::isFishMessage(c.message), c.fish) << c.message.toStdString();
}

TEST(FishKeyText, ReadsTheModeAndBoundsTheKey)
{
    const QByteArray longest(56, 'k');
    const struct
    {
        QByteArray text;
        std::optional<peer::FishKeyText> parsed;
    } cases[] = {
        {"secret", peer::FishKeyText{"secret", std::nullopt}},
        {"  secret \t", peer::FishKeyText{"secret", std::nullopt}},
        {"cbc:secret", peer::FishKeyText{"secret", FishMode::Cbc}},
        {"CBC:secret", peer::FishKeyText{"secret", FishMode::Cbc}},
        {"ecb:secret", peer::FishKeyText{"secret", FishMode::Ecb}},
        {" Ecb:se cret ", peer::FishKeyText{"se cret", FishMode::Ecb}},
        {"cbc:" + longest, peer::FishKeyText{longest, FishMode::Cbc}},
        {longest, peer::FishKeyText{longest, std::nullopt}},
        {"cbc", peer::FishKeyText{"cbc", std::nullopt}},
        {"xcbc:key", peer::FishKeyText{"xcbc:key", std::nullopt}},
        {"cbc:cbc:key", peer::FishKeyText{"cbc:key", FishMode::Cbc}},
        {"", std::nullopt},
        {"   ", std::nullopt},
        {"cbc:", std::nullopt},
        {"ECB:", std::nullopt},
        {longest + "k", std::nullopt},
        {"cbc:" + longest + "k", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(peer::parseFishKeyText(c.text), c.parsed) << c.text.toStdString();
}

TEST(FishKey, TakesOneTo56Bytes)
{
    peer::FishKey key;
    EXPECT_FALSE(key.set(""));
    EXPECT_FALSE(key.isSet());
    EXPECT_TRUE(key.set(QByteArray(56, 'k')));
    EXPECT_TRUE(key.isSet());
    EXPECT_FALSE(key.set(QByteArray(57, 'k')));
    EXPECT_FALSE(key.isSet());
    EXPECT_TRUE(key.state().isZero());
    EXPECT_TRUE(key.set("k"));
    key.clear();
    EXPECT_FALSE(key.isSet());
    EXPECT_TRUE(key.state().isZero());
}

TEST(FishPlainRoom, IsTheLongestTextWhoseMessageFits)
{
    EXPECT_EQ(peer::fishPlainRoom(FishMode::Ecb, -5), 0);
    EXPECT_EQ(peer::fishPlainRoom(FishMode::Cbc, -5), 0);
    EXPECT_EQ(peer::fishPlainRoom(FishMode::Ecb, 400), 264);
    EXPECT_EQ(peer::fishPlainRoom(FishMode::Cbc, 400), 280);
    // The longest that fits against the real messages, every room up to a long line's.
    const peer::FishKey key = keyFor("room");
    for (FishMode mode : {FishMode::Ecb, FishMode::Cbc}) {
        for (qsizetype room = 0; room <= 520; ++room) {
            const qsizetype plain = peer::fishPlainRoom(mode, room);
            SCOPED_TRACE(std::to_string(int(mode)) + " room " + std::to_string(room));
            if (plain > 0) {
                ASSERT_LE(peer::sealFishText(key, mode, QByteArray(plain, 'x')).size(), room);
            }
            ASSERT_GT(peer::sealFishText(key, mode, QByteArray(plain + 1, 'x')).size(), room);
        }
    }
}

TEST(FishSplit, KeepsCharactersWholeAndEveryMessageWithinRoomAndLosesNoByte)
{
    const peer::FishKey key = keyFor("split");
    const QString samples[] = {
        QString("plain ascii text that runs long enough to be cut many times over").repeated(3),
        QString::fromUtf8("\xC3\xA9\xC3\xA8\xC3\xAA").repeated(40),
        QString::fromUtf8("a\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E").repeated(30),
        QString::fromUtf8("ab\xF0\x9F\x98\x80\xF0\x9F\x8E\x89").repeated(30),
        QString::fromUtf8("x\xC3\xA9y\xE2\x82\xAC\xF0\x9F\x98\x80z").repeated(25),
    };
    for (const QString& sample : samples) {
        const QByteArray text = sample.toUtf8();
        for (FishMode mode : {FishMode::Ecb, FishMode::Cbc}) {
            for (qsizetype room : {16, 29, 40, 41, 57, 100, 511}) {
                SCOPED_TRACE(std::to_string(int(mode)) + " room " + std::to_string(room));
                const QList<QByteArray> pieces = peer::splitForFish(text, mode, room);
                if (peer::fishPlainRoom(mode, room) == 0) {
                    EXPECT_TRUE(pieces.isEmpty());
                    continue;
                }
                QByteArray rejoined;
                for (const QByteArray& piece : pieces) {
                    ASSERT_FALSE(piece.isEmpty());
                    EXPECT_LE(peer::sealFishText(key, mode, piece).size(), room);
                    EXPECT_TRUE(QString::fromUtf8(piece).toUtf8() == piece)
                        << "cut inside a character: " << piece.toHex().constData();
                    rejoined += piece;
                }
                EXPECT_EQ(rejoined, text);
            }
        }
    }
    EXPECT_TRUE(peer::splitForFish("", FishMode::Ecb, 400).isEmpty());
    EXPECT_TRUE(peer::splitForFish("text", FishMode::Ecb, 15).isEmpty());
    EXPECT_TRUE(peer::splitForFish("text", FishMode::Cbc, 28).isEmpty());
    EXPECT_EQ(peer::splitForFish("text", FishMode::Ecb, 16), QList<QByteArray>{"text"});

    // Bytes that are not UTF-8 may be cut anywhere, but never lost.
    const QByteArray invalid = QByteArray(30, '\x80') + "\xFF\xFE" + QByteArray(30, '\xBF');
    QByteArray invalidRejoined;
    for (const QByteArray& piece : peer::splitForFish(invalid, FishMode::Ecb, 16)) {
        EXPECT_LE(piece.size(), 8);
        invalidRejoined += piece;
    }
    EXPECT_EQ(invalidRejoined, invalid);
}

} // namespace

#pragma GCC diagnostic pop

TEST(FishOpen, AnotherKeysMessagesAreAlmostNeverTakenForText)
{
    // Blowfish under the wrong key gives bytes that look random; what passes for text is what a
    // user would see as garbage. Deterministic: the keys and texts are fixed.
    const peer::FishKey ours = keyFor("fishkey");
    int shown = 0;
    for (int i = 0; i < 500; ++i) {
        const peer::FishKey theirs = keyFor("other key " + QByteArray::number(i));
        const QByteArray text = "hello number " + QByteArray::number(i);
        for (const FishMode mode : {FishMode::Ecb, FishMode::Cbc}) {
            if (peer::openFishText(ours, peer::sealFishText(theirs, mode, text)).status
                == Status::Opened)
                ++shown;
        }
    }
    EXPECT_LE(shown, 1);
}

TEST(FishReadable, WhatWeSealIsAlwaysReadAsText)
{
    // A pasted bell or a broken sequence must not make our own line look like another key's.
    const struct
    {
        QByteArray typed;
        QByteArray sealed;
    } cases[] = {
        {"plain", "plain"},
        {"bell\x07here", "bell here"},
        {"\x02"
         "bold\x02 \x03"
         "4red\x0f",
         "\x02"
         "bold\x02 \x03"
         "4red\x0f"},
        {"caf\xc3\xa9", "caf\xc3\xa9"},
        {"cut \xe6\x9c", "cut \xef\xbf\xbd\xef\xbf\xbd"},
        {"tab\tdel\x7f", "tab\tdel "},
    };
    const peer::FishKey key = keyFor("fishkey");
    for (const auto& c : cases) {
        const QByteArray readable = peer::readableFishText(c.typed);
        EXPECT_EQ(readable, c.sealed) << c.typed.toHex().constData();
        for (const FishMode mode : {FishMode::Ecb, FishMode::Cbc}) {
            EXPECT_EQ(peer::openFishText(key, peer::sealFishText(key, mode, readable)).text,
                      readable);
        }
    }
}
