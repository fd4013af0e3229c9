#include "peer/crypto/dh1080.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <gtest/gtest.h>

#include <memory>
#include <openssl/bn.h>
#include <string>

namespace peer::dh1080 {

void PrintTo(const KeyExchange& exchange, std::ostream* out)
{
    *out << "{step " << int(exchange.step) << ", cbc " << exchange.cbc << ", "
         << exchange.publicKey.toHex().constData() << "}";
}

} // namespace peer::dh1080

namespace {

namespace dh = peer::dh1080;

// The vectors below come from Python's pow() over the published prime, the texts from fish.py's
// dh1080_b64encode and its key from dh1080_secret; the SAS from hashlib.
const QByteArray kPrivateA(135, '\x42');
QByteArray privateB()
{
    QByteArray bytes;
    for (int i = 1; i <= 135; ++i)
        bytes.append(static_cast<char>(i));
    return bytes;
}
const QByteArray kPublicTextA =
    "NgMDcMJWqkzzfdJAneTlh3/o6d5u1FgvLf2H3tZsZZXQvcdWGpyTCZdzHlkD0mmg2qwZy3TkJ/akTBRe3B/7qGxxjq6m5"
    "ply9VimZMvk1X8fC781A63sqhzaLCTpE4tUzrXfOa9LZbQ6tAJAg3CwOUaJJynkL896cIMI6zNW1U8bsbBHvvUsA";
const QByteArray kPublicTextB =
    "Qzv3sjSWyjl8F3TYH+NoOMTgJ+jH94A0MclOZqMDvgiSQsvegOf/dvzap8lbxfUwOHbu3DlBHcVwUaP3f86ZzFgts924K"
    "5p+Z5LUmvC0MIsYkqbPTzsGxc7Hc1CZ61hBYA2tfyFjJAzFzch30+D+mE9YQmUBUXCOCU3P73sUasaa9tJpacH+A";
const QByteArray kSharedAB = "JDX0aD+lqidL10lfFWm2gD+NN5beA24ivTHp7aaGcN0";

// 2^1212 mod p has a leading zero byte: fish.py sends it as 134 bytes.
const QByteArray kPrivateShortPublic = QByteArray::fromHex("04bc");
const QByteArray kShortPublicFishPy =
    "GS/SujQmXAFOUIFfwvnmtaKqG7f4BaFRlSLNMXsYyi2rjBaZzG4TIl0LbaTZF+c6shR8j8zV22xAGVioAXXBlO9NvMRhI"
    "VwOv1pI3/QJQzhXtR4gJbasIUk95KJva2jolKj6pdlri2NuPAEWkiL9TDo/7EPFBwFeRxcpC03JH9aio3QTmCU";
const QByteArray kShortPublicPadded =
    "ABkv0ro0JlwBTlCBX8L55rWiqhu3+AWhUZUizTF7GMotq4wWmcxuEyJdC22k2RfnOrIUfI/M1dtsQBlYqAF1wZTvTbzEY"
    "SFcDr9aSN/0CUM4V7UeICW2rCFJPeSib2to6JSo+qXZa4tjbjwBFpIi/Uw6P+xDxQcBXkcXKQtNyR/WoqN0E5glA";
const QByteArray kSharedAShort = "bbKks77a/Ke8Im6MhwRvhKDOYJiHhlExaeNmMvtPJQ0";

// A's public value to the power 0x65 is 134 bytes long: hashed without its leading zero it
// gives the first key, with it the second.
const QByteArray kPrivateShortShared = QByteArray::fromHex("65");
const QByteArray kSharedShortValue = "2aFiIxhuLTyM/ximFXyI4+h+8xIUIQrU8qgQVq8B/N8";
const QByteArray kSharedIfPadded = "yytqo5lfYBy88LegT4YX8G1Iwr2HVINcuFl3usWr1Ik";

const char kPrimeHex[] =
    "FBE1022E23D213E8ACFA9AE8B9DFADA3EA6B7AC7A7B7E95AB5EB2DF858921FEADE95E6AC7BE7DE6ADBAB8A783E7A"
    "F7A7FA6A2B7BEB1E72EAE2B72F9FA2BFB2A2EFBEFAC868BADB3E828FA8BADFADA3E4CC1BE7E8AFE85E9698A783EB"
    "68FA07A77AB6AD7BEB618ACF9CA2897EB28A6189EFA07AB99A8A7FA9AE299EFA7BA66DEAFEFBEFBF0B7D8B";

// p + delta as 135 big-endian bytes (136 if it carries over).
QByteArray primePlus(int delta)
{
    BIGNUM* bn = nullptr;
    BN_hex2bn(&bn, kPrimeHex);
    const std::unique_ptr<BIGNUM, decltype(&BN_free)> owner(bn, BN_free);
    if (delta >= 0)
        BN_add_word(bn, static_cast<BN_ULONG>(delta));
    else
        BN_sub_word(bn, static_cast<BN_ULONG>(-delta));
    QByteArray bytes(BN_num_bytes(bn), '\0');
    BN_bn2bin(bn, reinterpret_cast<unsigned char*>(bytes.data()));
    return bytes;
}

QByteArray small(quint8 value)
{
    QByteArray bytes(135, '\0');
    bytes[134] = static_cast<char>(value);
    return bytes;
}

TEST(Dh1080, FixedExponentsGiveThePythonVectorsOnBothSides)
{
    EXPECT_EQ(dh::prime(), QByteArray::fromHex(kPrimeHex));
    EXPECT_EQ(dh::prime().size(), dh::kKeyBytes);
    const auto a = dh::keyPairFromPrivate(kPrivateA);
    const auto b = dh::keyPairFromPrivate(privateB());
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->privateKey, kPrivateA);
    EXPECT_EQ(dh::encodePublicKey(a->publicKey), kPublicTextA);
    EXPECT_EQ(dh::encodePublicKey(b->publicKey), kPublicTextB);
    EXPECT_EQ(kPublicTextA.size(), dh::kEncodedKeyLength);

    EXPECT_EQ(dh::sharedKey(*a, b->publicKey), kSharedAB);
    EXPECT_EQ(dh::sharedKey(*b, a->publicKey), kSharedAB);
    EXPECT_EQ(kSharedAB.size(), 43);
}

TEST(Dh1080, PadsShortPublicKeysReadsPeersThatDoNotAndHashesWithoutTheLeadingZero)
{
    const auto pair = dh::keyPairFromPrivate(kPrivateShortPublic);
    ASSERT_TRUE(pair);
    ASSERT_EQ(pair->publicKey.size(), 135);
    EXPECT_EQ(pair->publicKey[0], '\0');
    EXPECT_EQ(pair->privateKey, QByteArray(133, '\0') + kPrivateShortPublic);
    EXPECT_EQ(dh::encodePublicKey(pair->publicKey), kShortPublicPadded);
    EXPECT_EQ(dh::encodePublicKey(pair->publicKey.sliced(1)), kShortPublicPadded);

    // fish.py: 134 bytes, no 'A'; ZNC: standard base64 with its '=' and then the 'A'.
    const QByteArray minimal = pair->publicKey.sliced(1);
    const QByteArray znc = minimal.toBase64() + "A";
    ASSERT_TRUE(znc.endsWith("=A"));
    for (const QByteArray& text : {kShortPublicFishPy, znc, kShortPublicPadded})
        EXPECT_EQ(dh::decodePublicKey(text), pair->publicKey) << text.toStdString();

    const auto a = dh::keyPairFromPrivate(kPrivateA);
    ASSERT_TRUE(a);
    EXPECT_EQ(dh::sharedKey(*a, pair->publicKey), kSharedAShort);
    EXPECT_EQ(dh::sharedKey(*a, minimal), kSharedAShort);

    // The hash covers the shared value's bytes without leading zeros, as in every FiSH.
    const auto c = dh::keyPairFromPrivate(kPrivateShortShared);
    ASSERT_TRUE(c);
    EXPECT_EQ(dh::sharedKey(*c, a->publicKey), kSharedShortValue);
    EXPECT_NE(dh::sharedKey(*c, a->publicKey), kSharedIfPadded);
}

TEST(Dh1080, RefusesExponentsAndPublicValuesOutOfRange)
{
    const auto a = dh::keyPairFromPrivate(kPrivateA);
    ASSERT_TRUE(a);
    const struct
    {
        const char* name;
        QByteArray bytes;
        bool valid;
    } cases[] = {
        {"0", small(0), false},
        {"1", small(1), false},
        {"2", small(2), true},
        {"p - 2", primePlus(-2), true},
        {"p - 1", primePlus(-1), false},
        {"p", primePlus(0), false},
        {"p + 1", primePlus(1), false},
        {"2^1080 - 1", QByteArray(135, '\xFF'), false},
        {"136 bytes", QByteArray(1, '\0') + small(2), false},
        {"empty", QByteArray(), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(dh::decodePublicKey(dh::encodeBase64(c.bytes)).has_value(), c.valid);
        EXPECT_EQ(dh::sharedKey(*a, c.bytes).has_value(), c.valid);
        EXPECT_EQ(dh::keyPairFromPrivate(c.bytes).has_value(), c.valid);
    }
    EXPECT_EQ(dh::sharedKey(dh::KeyPair{small(1), a->publicKey}, a->publicKey), std::nullopt);
}

TEST(Dh1080, Base64FollowsFishAndForgivesPeers)
{
    const struct
    {
        QByteArray bytes;
        QByteArray text;
    } encoded[] = {
        {"", "A"},        {"A", "QQ"},        {"AB", "QUI"},
        {"ABC", "QUJDA"}, {"ABCD", "QUJDRA"}, {"\xFB\xEF\xFF", "++//A"},
    };
    for (const auto& c : encoded) {
        EXPECT_EQ(dh::encodeBase64(c.bytes), c.text);
        EXPECT_EQ(dh::decodeBase64(c.text), c.bytes) << c.text.toStdString();
    }

    const struct
    {
        QByteArray text;
        std::optional<QByteArray> bytes;
    } decoded[] = {
        {"QQ==", QByteArray("A")},   {"QQ==A", QByteArray("A")},     {"QUI=", QByteArray("AB")},
        {"QUI=A", QByteArray("AB")}, {"QUJD", QByteArray("ABC")},    {"", QByteArray()},
        {"Q", std::nullopt},         {"QUJDR", std::nullopt},        {"QUJDB", std::nullopt},
        {"QU!D", std::nullopt},      {"QU D", std::nullopt},         {"QU=D", std::nullopt},
        {"QQ===", std::nullopt},     {"QUJD\xC3\xA9", std::nullopt},
    };
    for (const auto& c : decoded)
        EXPECT_EQ(dh::decodeBase64(c.text), c.bytes) << c.text.toStdString();
}

TEST(Dh1080, ParsesKeyExchangeNotices)
{
    const auto b = dh::keyPairFromPrivate(privateB());
    ASSERT_TRUE(b);
    const QByteArray key = kPublicTextB;
    using dh::Step;
    const auto exchange = [&](Step step, bool cbc) {
        return std::optional<dh::KeyExchange>(dh::KeyExchange{step, b->publicKey, cbc});
    };
    const struct
    {
        QByteArray text;
        std::optional<dh::KeyExchange> parsed;
    } cases[] = {
        {"DH1080_INIT " + key, exchange(Step::Init, false)},
        {"DH1080_FINISH " + key, exchange(Step::Finish, false)},
        {"DH1080_INIT " + key + " CBC", exchange(Step::Init, true)},
        {"DH1080_FINISH " + key + " cbc", exchange(Step::Finish, true)},
        {"DH1080_INIT_CBC " + key, exchange(Step::Init, true)},
        {"DH1080_INIT_cbc " + key, exchange(Step::Init, true)},
        {"DH1080_FINISH_CBC " + key, exchange(Step::Finish, true)},
        {"DH1080_INIT  " + key + "  CBC ", exchange(Step::Init, true)},
        {"DH1080_INIT " + key.chopped(1), exchange(Step::Init, false)},
        {"", std::nullopt},
        {"DH1080_INIT", std::nullopt},
        {"DH1080_INIT ", std::nullopt},
        {"DH1080_INIT " + key + " CBC extra", std::nullopt},
        {"DH1080_INIT " + key + " ECB", std::nullopt},
        {"DH1080_INIT CBC " + key, std::nullopt},
        {"DH1080_START " + key, std::nullopt},
        {"DH1080_INITX " + key, std::nullopt},
        {"+OK " + key, std::nullopt},
        {"DH1080_INIT !" + key.sliced(1), std::nullopt},
        {"DH1080_INIT " + dh::encodeBase64(small(1)), std::nullopt},
        {"DH1080_INIT " + dh::encodeBase64(primePlus(-1)), std::nullopt},
        {"DH1080_INIT " + key + QByteArray(400, ' '), std::nullopt},
        {"DH1080_INIT " + key + key, std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(dh::parseKeyExchange(c.text), c.parsed) << c.text.toStdString();
}

TEST(Dh1080, WritesWhatItReadsAndFreshPairsAgreeThroughIt)
{
    const auto b = dh::keyPairFromPrivate(privateB());
    ASSERT_TRUE(b);
    EXPECT_EQ(dh::keyExchangeText(dh::Step::Init, b->publicKey, false),
              "DH1080_INIT " + kPublicTextB);
    EXPECT_EQ(dh::keyExchangeText(dh::Step::Finish, b->publicKey, true),
              "DH1080_FINISH " + kPublicTextB + " CBC");
    for (dh::Step step : {dh::Step::Init, dh::Step::Finish}) {
        for (bool cbc : {false, true}) {
            const auto parsed = dh::parseKeyExchange(dh::keyExchangeText(step, b->publicKey, cbc));
            EXPECT_EQ(parsed, (dh::KeyExchange{step, b->publicKey, cbc}));
        }
    }

    // Fresh pairs agree through their notices.
    const auto ours = dh::makeKeyPair();
    const auto theirs = dh::makeKeyPair();
    ASSERT_TRUE(ours && theirs);
    EXPECT_NE(ours->privateKey, theirs->privateKey);
    const auto init =
        dh::parseKeyExchange(dh::keyExchangeText(dh::Step::Init, ours->publicKey, false));
    ASSERT_TRUE(init);
    const auto finish =
        dh::parseKeyExchange(dh::keyExchangeText(dh::Step::Finish, theirs->publicKey, false));
    ASSERT_TRUE(finish);
    const auto theirKey = dh::sharedKey(*theirs, init->publicKey);
    ASSERT_TRUE(theirKey);
    EXPECT_EQ(dh::sharedKey(*ours, finish->publicKey), theirKey);
}

// Each draw gives one byte, its low one; draws at or above p - 1 are thrown away whole.
TEST(Dh1080, DrawsThePrivateExponentFromLowBytesAndRejectsOutOfRange)
{
    const QByteArray tooBig(135, '\xFF');
    const QByteArray wanted = privateB();
    QByteArray stream = tooBig + primePlus(-1) + wanted;
    auto at = std::make_shared<qsizetype>(0);
    const peer::RandomSource source = [stream, at] {
        return 0x5A5A5A00u | static_cast<quint8>(stream[(*at)++ % stream.size()]);
    };
    const auto pair = dh::makeKeyPair(source);
    ASSERT_TRUE(pair);
    EXPECT_EQ(pair->privateKey, wanted);
    EXPECT_EQ(*at, 3 * 135);
    EXPECT_EQ(pair->publicKey, dh::keyPairFromPrivate(wanted)->publicKey);

    // A broken source must end in nothing, not in an endless loop or a weak exponent.
    EXPECT_EQ(dh::makeKeyPair([] { return 0u; }), std::nullopt);
    EXPECT_EQ(dh::makeKeyPair([] { return 0x123456FFu; }), std::nullopt);
}

// Each side hashes what it sent and what it received; both see the same exchange unless a
// message was changed on its way, and then the two strings differ.
TEST(Dh1080, TheDigestCoversBothKeysAndTheModeEachSideSentAndReadsAsFiveWords)
{
    const auto a = dh::keyPairFromPrivate(kPrivateA);
    const auto b = dh::keyPairFromPrivate(privateB());
    ASSERT_TRUE(a && b);
    using Message = dh::KeyExchange;
    const Message init{dh::Step::Init, a->publicKey, true};
    const Message finish{dh::Step::Finish, b->publicKey, true};
    const QByteArray digest = dh::exchangeDigest(init, finish);
    EXPECT_EQ(digest, dh::exchangeDigest(finish, init));
    EXPECT_EQ(digest.toHex(), "1eed2d94aad787ec7085cd5be3bb1d9465ad32652183945ee9a8a0281dd9d086");
    EXPECT_EQ(dh::shortAuthenticationString(digest), "0180 1756 7051 0836 9445");

    const Message initStripped{dh::Step::Init, a->publicKey, false};
    const Message finishStripped{dh::Step::Finish, b->publicKey, false};
    // " CBC" taken off the INIT: the answering side saw none and answered without; the offering
    // side sent it and got an answer without.
    const QByteArray answering = dh::exchangeDigest(finishStripped, initStripped);
    const QByteArray offering = dh::exchangeDigest(init, finishStripped);
    EXPECT_EQ(answering.toHex(),
              "87d1ba0c18276703e69a534da8985c7e3b013402b57d9e2631f2b1bed35d8f60");
    EXPECT_EQ(offering.toHex(), "864910773b27a1203ed6f480c1fffead6fe203eaf659593c1542a31a6e8567f2");
    EXPECT_NE(dh::shortAuthenticationString(answering), dh::shortAuthenticationString(offering));
    // " CBC" taken off the FINISH only: the answering side still holds the honest digest.
    EXPECT_NE(dh::shortAuthenticationString(offering), dh::shortAuthenticationString(digest));
    EXPECT_NE(digest, dh::exchangeDigest(init, Message{dh::Step::Finish, a->publicKey, true}));
    // Two offers that crossed: each side answered the other's INIT with its own.
    const Message otherInit{dh::Step::Init, b->publicKey, true};
    EXPECT_EQ(dh::exchangeDigest(init, otherInit), dh::exchangeDigest(otherInit, init));
    EXPECT_NE(dh::exchangeDigest(init, otherInit), digest);

    // The short authentication string reads five big-endian words.
    const struct
    {
        QByteArray digest;
        const char* text;
    } cases[] = {
        {QByteArray(32, '\0'), "0000 0000 0000 0000 0000"},
        {QByteArray(32, '\xFF'), "7295 7295 7295 7295 7295"},
        {QByteArray::fromHex("00000001000000020000270f000027100001e240") + QByteArray(12, '\x77'),
         "0001 0002 9999 0000 3456"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(dh::shortAuthenticationString(c.digest), QString::fromLatin1(c.text));
}

} // namespace
