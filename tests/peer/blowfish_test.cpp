#include "peer/crypto/blowfish.h"

#include <QByteArray>
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
    const auto word = [&](int at) {
        quint32 value = 0;
        for (int i = 0; i < 4; ++i)
            value = value << 8 | static_cast<quint8>(bytes[at + i]);
        return value;
    };
    return {word(0), word(4)};
}

struct Vector
{
    const char* key;
    const char* plain;
    const char* cipher;
};

// Eric Young's ECB set, from the DES validation data.
const Vector kEcbVectors[] = {
    {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
    {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
    {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
    {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
    {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
    {"1111111111111111", "0123456789ABCDEF", "7D0CC630AFDA1EC7"},
    {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
    {"7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B"},
    {"0131D9619DC1376E", "5CD54CA83DEF57DA", "B1B8CC0B250F09A0"},
    {"07A1133E4A0B2686", "0248D43806F67172", "1730E5778BEA1DA4"},
    {"3849674C2602319E", "51454B582DDF440A", "A25E7856CF2651EB"},
    {"04B915BA43FEB5B6", "42FD443059577FA2", "353882B109CE8F1A"},
    {"0113B970FD34F2CE", "059B5E0851CF143A", "48F4D0884C379918"},
    {"0170F175468FB5E6", "0756D8E0774761D2", "432193B78951FC98"},
    {"43297FAD38E373FE", "762514B829BF486A", "13F04154D69D1AE5"},
    {"07A7137045DA2A16", "3BDD119049372802", "2EEDDA93FFD39C79"},
    {"04689104C2FD3B2F", "26955F6835AF609A", "D887E0393C2DA6E3"},
    {"37D06BB516CB7546", "164D5E404F275232", "5F99D04F5B163969"},
    {"1F08260D1AC2465E", "6B056E18759F5CCA", "4A057A3B24D3977B"},
    {"584023641ABA6176", "004BD6EF09176062", "452031C1E4FADA8E"},
    {"025816164629B007", "480D39006EE762F2", "7555AE39F59B87BD"},
    {"49793EBC79B3258F", "437540C8698F3CFA", "53C55F9CB49FC019"},
    {"4FB05E1515AB73A7", "072D43A077075292", "7A8E7BFA937E89A3"},
    {"49E95D6D4CA229BF", "02FE55778117F12A", "CF9C5D7A4986ADB5"},
    {"018310DC409B26D6", "1D9D5C5018F728C2", "D1ABB290658BC778"},
    {"1C587F1C13924FEF", "305532286D6F295A", "55CB3774D13EF201"},
    {"0101010101010101", "0123456789ABCDEF", "FA34EC4847B268B2"},
    {"1F1F1F1F0E0E0E0E", "0123456789ABCDEF", "A790795108EA3CAE"},
    {"E0FEE0FEF1FEF1FE", "0123456789ABCDEF", "C39E072D9FAC631D"},
    {"0000000000000000", "FFFFFFFFFFFFFFFF", "014933E0CDAFF6E4"},
    {"FFFFFFFFFFFFFFFF", "0000000000000000", "F21E9A77B71C49BC"},
    {"0123456789ABCDEF", "0000000000000000", "245946885754369A"},
    {"FEDCBA9876543210", "FFFFFFFFFFFFFFFF", "6B5C5A9C5D9E0A5A"},
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

TEST(Blowfish, MatchesTheEcbVectors)
{
    for (const Vector& vector : kEcbVectors)
        expectVector(vector);
}

// Keys of 1 to 24 bytes: the first bytes of F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677
// over the plain block FEDCBA9876543210. These catch a wrong cyclic reading of short keys.
TEST(Blowfish, MatchesTheVariableKeyLengthVectors)
{
    const char* const ciphers[] = {
        "F9AD597C49DB005E", "E91D21C1D961A6D6", "E9C2B70A1BC65CF3", "BE1E639408640F05",
        "B39E44481BDB1E6E", "9457AA83B1928C0D", "8BB77032F960629D", "E87A244E2CC85E82",
        "15750E7A4F4EC577", "122BA70B3AB64AE0", "3A833C9AFFC537F6", "9409DA87A90F6BF2",
        "884F80625060B8B4", "1F85031C19E11968", "79D9373A714CA34F", "93142887EE3BE15C",
        "03429E838CE2D14B", "A4299E27469FF67B", "AFD5AED1C1BC96A8", "10851C0E3858DA9F",
        "E6F51ED79B9DB21F", "64A6E14AFD36B46F", "80C7D7D45A5479AD", "05044B62FA52D080",
    };
    const QByteArray fullKey = "F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677";
    int length = 1;
    for (const char* cipher : ciphers) {
        const QByteArray key = fullKey.left(2 * length);
        expectVector({key.constData(), "FEDCBA9876543210", cipher});
        ++length;
    }
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
