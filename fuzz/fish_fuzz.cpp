// Relayed texts and key exchange notices from anyone: nothing that opens may hold a byte that
// would cut a line, every decoder's result survives being written and read again, and our own
// lines, cut to a room, come back whole within it.
#include "fuzz_check.h"
#include "peer/crypto/dh1080.h"
#include "peer/crypto/fish.h"

#include <fuzzer/FuzzedDataProvider.h>

namespace {

namespace dh = peer::dh1080;

const peer::FishKey& fishKey()
{
    static const peer::FishKey key = [] {
        peer::FishKey k;
        k.set("fishkey");
        return k;
    }();
    return key;
}

const dh::KeyPair& ourPair()
{
    static const dh::KeyPair pair = *dh::keyPairFromPrivate(QByteArray(135, '\x42'));
    return pair;
}

void checkOpened(QByteArrayView message)
{
    const peer::OpenedFishText opened = peer::openFishText(fishKey(), message);
    const bool prefixed = message.startsWith("+OK ") || message.startsWith("mcps ");
    FUZZ_CHECK(prefixed == (opened.status != peer::OpenedFishText::Status::Plain));
    if (peer::isFishMessage(message))
        FUZZ_CHECK(prefixed);
    if (opened.status == peer::OpenedFishText::Status::Opened) {
        FUZZ_CHECK(!opened.text.isEmpty());
        for (char c : opened.text)
            FUZZ_CHECK(c != '\r' && c != '\n' && c != '\0');
        FUZZ_CHECK(peer::isFishMessage(message));
    } else {
        FUZZ_CHECK(opened.text.isEmpty());
    }
}

void checkDecoders(QByteArrayView text)
{
    if (const auto bytes = peer::fishBase64Decode(text)) {
        FUZZ_CHECK(bytes->size() == text.size() / 12 * 8);
        FUZZ_CHECK(peer::fishBase64Decode(peer::fishBase64Encode(*bytes)) == bytes);
    }
    if (const auto bytes = dh::decodeBase64(text))
        FUZZ_CHECK(dh::decodeBase64(dh::encodeBase64(*bytes)) == bytes);
    if (const auto key = dh::decodePublicKey(text)) {
        FUZZ_CHECK(key->size() == dh::kKeyBytes);
        const QByteArray encoded = dh::encodePublicKey(*key);
        FUZZ_CHECK(encoded.size() == dh::kEncodedKeyLength);
        FUZZ_CHECK(dh::decodePublicKey(encoded) == key);
    }
    if (const auto exchange = dh::parseKeyExchange(text)) {
        FUZZ_CHECK(exchange->publicKey.size() == dh::kKeyBytes);
        const QByteArray written =
            dh::keyExchangeText(exchange->step, exchange->publicKey, exchange->cbc);
        FUZZ_CHECK(dh::parseKeyExchange(written) == exchange);
        const auto shared = dh::sharedKey(ourPair(), exchange->publicKey);
        FUZZ_CHECK(shared && shared->size() == 43);
    }
}

// Our own line: what the user typed, as we seal it.
void checkRoundTrip(const QByteArray& typed, peer::FishMode mode, qsizetype room, quint32 seed)
{
    const QByteArray text = peer::readableFishText(typed);
    FUZZ_CHECK(peer::readableFishText(text) == text);
    quint32 state = seed | 1u;
    const peer::RandomSource random = [&state] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    QByteArray rejoined;
    const QList<QByteArray> pieces = peer::splitForFish(text, mode, room);
    for (const QByteArray& piece : pieces) {
        FUZZ_CHECK(!piece.isEmpty());
        const QByteArray message = peer::sealFishText(fishKey(), mode, piece, random);
        FUZZ_CHECK(message.size() <= room);
        const peer::OpenedFishText opened = peer::openFishText(fishKey(), message);
        FUZZ_CHECK(opened.status == peer::OpenedFishText::Status::Opened);
        FUZZ_CHECK(opened.mode == mode);
        FUZZ_CHECK(opened.text == piece);
        rejoined += piece;
    }
    FUZZ_CHECK(pieces.isEmpty() ? text.isEmpty() || peer::fishPlainRoom(mode, room) == 0
                                : rejoined == text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const auto mode = input.ConsumeBool() ? peer::FishMode::Cbc : peer::FishMode::Ecb;
    const auto room = qsizetype(input.ConsumeIntegralInRange(-2, 600));
    const auto seed = input.ConsumeIntegral<quint32>();
    const std::string typed = input.ConsumeRandomLengthString(1200);
    const std::string rest = input.ConsumeRemainingBytesAsString();
    const QByteArrayView text(rest.data(), qsizetype(rest.size()));

    checkOpened(text);
    checkDecoders(text);
    if (text.startsWith("+OK ") || text.startsWith("mcps ")) {
        const qsizetype body = text.indexOf(' ') + 1;
        checkDecoders(text.sliced(body));
    }
    checkRoundTrip(QByteArray(typed.data(), qsizetype(typed.size())), mode, room, seed);
    return 0;
}
