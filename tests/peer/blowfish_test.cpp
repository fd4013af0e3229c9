#include "peer/crypto/blowfish.h"

#include <QByteArray>
#include <QtEndian>
#include <gtest/gtest.h>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <openssl/blowfish.h>
#include <random>

namespace {

struct Block
{
    quint32 left;
    quint32 right;
};

// The published vectors write blocks as big-endian bytes: the first four are the left half.
Block blockFromHex(const char* hex)
{
    const QByteArray bytes = QByteArray::fromHex(hex);
    return {qFromBigEndian<quint32>(bytes.constData()),
            qFromBigEndian<quint32>(bytes.constData() + 4)};
}

struct Vector
{
    const char* key;
    const char* plain;
    const char* cipher;
};

// A few of Eric Young's ECB set, from the DES validation data, and of the variable key length
// set: keys of 1, 7 and 24 bytes, the first bytes of
// F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677 over the plain block FEDCBA9876543210, which
// catch a wrong cyclic reading of short keys. The agreement with OpenSSL below covers the rest.
const Vector kVectors[] = {
    {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
    {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
    {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
    {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
    {"F0", "FEDCBA9876543210", "F9AD597C49DB005E"},
    {"F0E1D2C3B4A596", "FEDCBA9876543210", "8BB77032F960629D"},
    {"F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677", "FEDCBA9876543210", "05044B62FA52D080"},
};

void expectVector(const Vector& vector)
{
    SCOPED_TRACE(std::string("key ") + vector.key + " plain " + vector.plain);
    peer::BlowfishState state;
    ASSERT_TRUE(peer::BlowfishInit(state, QByteArray::fromHex(vector.key)));
    const Block plain = blockFromHex(vector.plain);
    const Block cipher = blockFromHex(vector.cipher);

    Block block = plain;
    peer::BlowfishEncrypt(state, block.left, block.right);
    EXPECT_EQ(block.left, cipher.left);
    EXPECT_EQ(block.right, cipher.right);
    peer::BlowfishDecrypt(state, block.left, block.right);
    EXPECT_EQ(block.left, plain.left);
    EXPECT_EQ(block.right, plain.right);
}

TEST(Blowfish, MatchesPublishedVectors)
{
    for (const Vector& vector : kVectors)
        expectVector(vector);
}

// OpenSSL's Blowfish is an independent implementation; keys up to 100 bytes also check that
// bytes past the 72nd are ignored the same way.
TEST(Blowfish, AgreesWithOpenSslOverRandomKeysAndBlocks)
{
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> keyLength(1, 100);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 1500; ++round) {
        QByteArray key(keyLength(random), '\0');
        for (char& c : key)
            c = static_cast<char>(byte(random));
        peer::BlowfishState ours;
        ASSERT_TRUE(peer::BlowfishInit(ours, key));
        BF_KEY theirs;
        BF_set_key(&theirs, int(key.size()), reinterpret_cast<const unsigned char*>(key.data()));

        for (int block = 0; block < 4; ++block) {
            const quint32 left = random();
            const quint32 right = random();
            BF_LONG expected[2] = {left, right};
            BF_encrypt(expected, &theirs);
            quint32 l = left;
            quint32 r = right;
            peer::BlowfishEncrypt(ours, l, r);
            ASSERT_EQ(l, expected[0]) << "round " << round;
            ASSERT_EQ(r, expected[1]) << "round " << round;

            BF_decrypt(expected, &theirs);
            peer::BlowfishDecrypt(ours, l, r);
            ASSERT_EQ(l, left);
            ASSERT_EQ(r, right);
            ASSERT_EQ(expected[0], left);
        }
    }
}

// An empty key leaves the state zero, and a second key must replace the first completely, not
// mix with what the first left behind.
TEST(Blowfish, StartsZeroAndEachKeyReplacesTheStateWhole)
{
    peer::BlowfishState state;
    EXPECT_TRUE(state.isZero());
    ASSERT_TRUE(peer::BlowfishInit(state, "first key, long enough to matter"));
    EXPECT_FALSE(state.isZero());
    ASSERT_TRUE(peer::BlowfishInit(state, "second"));
    peer::BlowfishState fresh;
    ASSERT_TRUE(peer::BlowfishInit(fresh, "second"));
    EXPECT_EQ(state, fresh);
    EXPECT_FALSE(peer::BlowfishInit(state, QByteArrayView()));
    EXPECT_TRUE(state.isZero());
    ASSERT_TRUE(peer::BlowfishInit(state, "0123456789abcdef"));
    state.reset();
    EXPECT_EQ(state, peer::BlowfishState());
}

} // namespace

#pragma GCC diagnostic pop
