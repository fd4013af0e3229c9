#include "peer/crypto/dh1080.h"

#include <QCryptographicHash>
#include <QList>
#include <QStringList>

#include <algorithm>
#include <memory>
#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <utility>

namespace peer::dh1080 {
namespace {

constexpr char kPrimeHex[] =
    "FBE1022E23D213E8ACFA9AE8B9DFADA3EA6B7AC7A7B7E95AB5EB2DF858921FEADE95E6AC7BE7DE6ADBAB8A783E7A"
    "F7A7FA6A2B7BEB1E72EAE2B72F9FA2BFB2A2EFBEFAC868BADB3E828FA8BADFADA3E4CC1BE7E8AFE85E9698A783EB"
    "68FA07A77AB6AD7BEB618ACF9CA2897EB28A6189EFA07AB99A8A7FA9AE299EFA7BA66DEAFEFBEFBF0B7D8B";
constexpr char kVerificationLabel[] = "Kivvo DH1080 exchange v2";
// A key exchange text is two tokens, a 181-character key and " CBC"; far below this.
constexpr qsizetype kMaxExchangeText = 400;
// Rejected draws cost one more try; with p just under 2^1080 nearly every draw is kept.
constexpr int kMaxDraws = 64;

struct BnFree
{
    void operator()(BIGNUM* bn) const { BN_clear_free(bn); }
};
struct BnCtxFree
{
    void operator()(BN_CTX* ctx) const { BN_CTX_free(ctx); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;
using BnCtx = std::unique_ptr<BN_CTX, BnCtxFree>;

Bn bnFromBytes(QByteArrayView bytes)
{
    return Bn(BN_bin2bn(reinterpret_cast<const unsigned char*>(bytes.data()), int(bytes.size()),
                        nullptr));
}

// Left-padded to kKeyBytes; nothing if it does not fit.
std::optional<QByteArray> bnToKeyBytes(const BIGNUM* bn)
{
    QByteArray bytes(kKeyBytes, '\0');
    if (BN_bn2binpad(bn, reinterpret_cast<unsigned char*>(bytes.data()), int(kKeyBytes)) < 0)
        return std::nullopt;
    return bytes;
}

const BIGNUM* primeBn()
{
    static const Bn prime = [] {
        BIGNUM* bn = nullptr;
        BN_hex2bn(&bn, kPrimeHex);
        return Bn(bn);
    }();
    return prime.get();
}

// 1 < value < p - 1: 0, 1 and p - 1 would force the shared value whatever our exponent.
bool inOpenRange(const BIGNUM* value)
{
    const Bn upper(BN_dup(primeBn()));
    if (!upper || !BN_sub_word(upper.get(), 1))
        return false;
    return BN_cmp(value, BN_value_one()) > 0 && BN_cmp(value, upper.get()) < 0;
}

int alphabetIndex(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return 26 + (c - 'a');
    if (c >= '0' && c <= '9')
        return 52 + (c - '0');
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

QByteArray leftPadded(QByteArrayView bytes)
{
    QByteArray padded(std::max<qsizetype>(0, kKeyBytes - bytes.size()), '\0');
    padded.append(bytes);
    return padded;
}

std::optional<KeyPair> pairFor(const BIGNUM* exponent)
{
    const BnCtx ctx(BN_CTX_new());
    const Bn generator(BN_new());
    const Bn publicValue(BN_new());
    if (!ctx || !generator || !publicValue || !BN_set_word(generator.get(), 2))
        return std::nullopt;
    const Bn secretExponent(BN_dup(exponent));
    if (!secretExponent)
        return std::nullopt;
    BN_set_flags(secretExponent.get(), BN_FLG_CONSTTIME);
    if (!BN_mod_exp_mont_consttime(publicValue.get(), generator.get(), secretExponent.get(),
                                   primeBn(), ctx.get(), nullptr))
        return std::nullopt;
    auto privateBytes = bnToKeyBytes(exponent);
    auto publicBytes = bnToKeyBytes(publicValue.get());
    if (!privateBytes || !publicBytes)
        return std::nullopt;
    return KeyPair{std::move(*privateBytes), std::move(*publicBytes)};
}

void cleanse(QByteArray& bytes)
{
    if (!bytes.isEmpty())
        OPENSSL_cleanse(bytes.data(), size_t(bytes.size()));
}

} // namespace

QByteArray prime()
{
    return QByteArray::fromHex(kPrimeHex);
}

std::optional<KeyPair> makeKeyPair(const RandomSource& random)
{
    QByteArray draw(kKeyBytes, '\0');
    std::optional<KeyPair> pair;
    for (int attempt = 0; attempt < kMaxDraws && !pair; ++attempt) {
        for (char& byte : draw)
            byte = static_cast<char>(random() & 0xFF);
        // Out-of-range draws are thrown away, not reduced, so every exponent is equally likely.
        pair = keyPairFromPrivate(draw);
    }
    cleanse(draw);
    return pair;
}

std::optional<KeyPair> keyPairFromPrivate(QByteArrayView privateKey)
{
    if (privateKey.size() > kKeyBytes)
        return std::nullopt;
    const Bn exponent = bnFromBytes(privateKey);
    if (!exponent || !inOpenRange(exponent.get()))
        return std::nullopt;
    return pairFor(exponent.get());
}

QByteArray encodeBase64(QByteArrayView bytes)
{
    QByteArray text = bytes.toByteArray().toBase64(QByteArray::OmitTrailingEquals);
    if (bytes.size() % 3 == 0)
        text.append('A');
    return text;
}

std::optional<QByteArray> decodeBase64(QByteArrayView text)
{
    // FiSH's 'A' stands where '=' would not be needed; ZNC writes it after its '=' padding too.
    if (text.size() % 4 == 1 && text.endsWith('A'))
        text.chop(1);
    qsizetype padding = 0;
    while (padding < 2 && text.endsWith('=')) {
        text.chop(1);
        ++padding;
    }
    if (text.size() % 4 == 1)
        return std::nullopt;

    QByteArray bytes;
    bytes.reserve(text.size() * 3 / 4);
    quint32 bits = 0;
    int count = 0;
    for (char c : text) {
        const int value = alphabetIndex(c);
        if (value < 0)
            return std::nullopt;
        bits = bits << 6 | quint32(value);
        count += 6;
        if (count >= 8) {
            count -= 8;
            bytes.append(static_cast<char>((bits >> count) & 0xFF));
        }
    }
    return bytes;
}

QByteArray encodePublicKey(QByteArrayView publicKey)
{
    return encodeBase64(leftPadded(publicKey));
}

std::optional<QByteArray> decodePublicKey(QByteArrayView text)
{
    const auto bytes = decodeBase64(text);
    if (!bytes || bytes->size() > kKeyBytes)
        return std::nullopt;
    const Bn value = bnFromBytes(*bytes);
    if (!value || !inOpenRange(value.get()))
        return std::nullopt;
    return leftPadded(*bytes);
}

std::optional<QByteArray> sharedKey(const KeyPair& ours, QByteArrayView theirPublic)
{
    if (theirPublic.size() > kKeyBytes || ours.privateKey.size() > kKeyBytes)
        return std::nullopt;
    const Bn theirs = bnFromBytes(theirPublic);
    const Bn exponent = bnFromBytes(ours.privateKey);
    const Bn shared(BN_new());
    const BnCtx ctx(BN_CTX_new());
    if (!theirs || !exponent || !shared || !ctx || !inOpenRange(theirs.get())
        || !inOpenRange(exponent.get()))
        return std::nullopt;
    BN_set_flags(exponent.get(), BN_FLG_CONSTTIME);
    if (!BN_mod_exp_mont_consttime(shared.get(), theirs.get(), exponent.get(), primeBn(), ctx.get(),
                                   nullptr))
        return std::nullopt;

    // The other implementations hash the value's bytes without leading zeros.
    QByteArray sharedBytes(BN_num_bytes(shared.get()), '\0');
    BN_bn2bin(shared.get(), reinterpret_cast<unsigned char*>(sharedBytes.data()));
    QByteArray digest = QCryptographicHash::hash(sharedBytes, QCryptographicHash::Sha256);
    cleanse(sharedBytes);
    QByteArray key = digest.toBase64(QByteArray::OmitTrailingEquals);
    cleanse(digest);
    return key;
}

std::optional<KeyExchange> parseKeyExchange(QByteArrayView text)
{
    if (text.size() > kMaxExchangeText)
        return std::nullopt;
    // "DH1080_INIT <key>[ CBC]"; peers are forgiven doubled blanks.
    QList<QByteArrayView> tokens;
    while (!text.isEmpty()) {
        const qsizetype blank = text.indexOf(' ');
        const QByteArrayView token = blank < 0 ? text : text.first(blank);
        if (!token.isEmpty())
            tokens.append(token);
        text = blank < 0 ? QByteArrayView() : text.sliced(blank + 1);
    }
    if (tokens.size() < 2 || tokens.size() > 3)
        return std::nullopt;

    KeyExchange exchange;
    // FiSH10 names its CBC offer in the command instead.
    const QByteArray command = tokens[0].toByteArray().toUpper();
    if (command == "DH1080_INIT" || command == "DH1080_INIT_CBC")
        exchange.step = Step::Init;
    else if (command == "DH1080_FINISH" || command == "DH1080_FINISH_CBC")
        exchange.step = Step::Finish;
    else
        return std::nullopt;
    exchange.cbc = command.endsWith("_CBC");
    if (tokens.size() == 3) {
        if (tokens[2].toByteArray().toUpper() != "CBC")
            return std::nullopt;
        exchange.cbc = true;
    }
    auto key = decodePublicKey(tokens[1]);
    if (!key)
        return std::nullopt;
    exchange.publicKey = std::move(*key);
    return exchange;
}

QByteArray keyExchangeText(Step step, QByteArrayView publicKey, bool cbc)
{
    QByteArray text = step == Step::Init ? "DH1080_INIT " : "DH1080_FINISH ";
    text += encodePublicKey(publicKey);
    if (cbc)
        text += " CBC";
    return text;
}

QByteArray exchangeDigest(const KeyExchange& ours, const KeyExchange& theirs)
{
    const auto record = [](const KeyExchange& message) {
        return leftPadded(message.publicKey) + (message.step == Step::Init ? 'I' : 'F')
               + (message.cbc ? 'C' : 'E');
    };
    QByteArray a = record(ours);
    QByteArray b = record(theirs);
    if (b < a)
        std::swap(a, b);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QByteArrayView(kVerificationLabel));
    hash.addData(a);
    hash.addData(b);
    return hash.result();
}

QString shortAuthenticationString(QByteArrayView digest)
{
    constexpr int kGroups = 5;
    if (digest.size() < 4 * kGroups)
        return {};
    QStringList groups;
    for (int i = 0; i < kGroups; ++i) {
        quint32 word = 0;
        for (int j = 0; j < 4; ++j)
            word = word << 8 | static_cast<quint8>(digest[4 * i + j]);
        groups << QStringLiteral("%1").arg(word % 10000, 4, 10, QLatin1Char('0'));
    }
    return groups.join(QLatin1Char(' '));
}

} // namespace peer::dh1080
