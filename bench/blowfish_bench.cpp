// Our Blowfish against OpenSSL's in the same binary, the chat packet round trip and the key
// schedule. Figures as in core_bench.cpp.
#include "bench/core_common.h"
#include "peer/crypto/blowfish.h"
#include "peer/crypto/dh1080.h"
#include "peer/crypto/encrypted_chat.h"
#include "peer/crypto/fish.h"

#include <QByteArray>
#include <benchmark/benchmark.h>

#include <openssl/evp.h>
#include <openssl/provider.h>
#include <vector>

namespace {

using bench::kMicrosecondsEach;

// A chat key as MakeChatKey draws them: 16 bytes in 1..254.
const QByteArray kChatKey = "\x5a\x13\xe7\x81\x02\xfe\x44\x99\xc3\x3c\x10\x7f\x80\xab\xcd\xef";

const peer::BlowfishState& chatState()
{
    static const peer::BlowfishState state = [] {
        peer::BlowfishState s;
        peer::BlowfishInit(s, kChatKey);
        return s;
    }();
    return state;
}

quint32 readLittleEndian(const unsigned char* b)
{
    return quint32(b[0]) | quint32(b[1]) << 8 | quint32(b[2]) << 16 | quint32(b[3]) << 24;
}

void writeLittleEndian(unsigned char* b, quint32 value)
{
    b[0] = static_cast<unsigned char>(value);
    b[1] = static_cast<unsigned char>(value >> 8);
    b[2] = static_cast<unsigned char>(value >> 16);
    b[3] = static_cast<unsigned char>(value >> 24);
}

std::vector<unsigned char> patternBytes(std::size_t size)
{
    std::vector<unsigned char> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<unsigned char>(i * 37 + 11);
    return bytes;
}

// ECB over the buffer, each block's halves read little-endian, as the chat packets do.
template <void (*Cipher)(const peer::BlowfishState&, quint32&, quint32&)>
void OurBlowfish(benchmark::State& state, const char* figure)
{
    const peer::BlowfishState& key = chatState();
    const auto size = std::size_t(state.range(0));
    std::vector<unsigned char> buffer = patternBytes(size);
    for (auto _ : state) {
        for (std::size_t at = 0; at + 8 <= size; at += 8) {
            quint32 left = readLittleEndian(buffer.data() + at);
            quint32 right = readLittleEndian(buffer.data() + at + 4);
            Cipher(key, left, right);
            writeLittleEndian(buffer.data() + at, left);
            writeLittleEndian(buffer.data() + at + 4, right);
        }
        benchmark::ClobberMemory();
    }
    state.SetLabel(figure);
    state.counters["value"] = benchmark::Counter(double(size) * double(state.iterations()) / 1e6,
                                                 benchmark::Counter::kIsRate);
}

void OurEncrypt(benchmark::State& state)
{
    OurBlowfish<peer::BlowfishEncrypt>(state, state.range(0) == 16 ? "blowfish 16 B MB/s"
                                                                   : "blowfish 1024 B MB/s");
}

void OurDecrypt(benchmark::State& state)
{
    OurBlowfish<peer::BlowfishDecrypt>(state, state.range(0) == 16
                                                  ? "blowfish decrypt 16 B MB/s"
                                                  : "blowfish decrypt 1024 B MB/s");
}

// OpenSSL 3 keeps Blowfish in the legacy provider; the default one stays for everything else.
bool loadOpenSslProviders()
{
    static const bool loaded = OSSL_PROVIDER_load(nullptr, "legacy") != nullptr
                               && OSSL_PROVIDER_load(nullptr, "default") != nullptr;
    return loaded;
}

void OpenSslBlowfish(benchmark::State& state, int encrypt, const char* figure)
{
    const auto size = std::size_t(state.range(0));
    state.SetLabel(figure);
    if (!loadOpenSslProviders()) {
        state.SkipWithError("OpenSSL's legacy provider did not load");
        return;
    }
    EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, "BF-ECB", nullptr);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    const auto* key = reinterpret_cast<const unsigned char*>(kChatKey.constData());
    bool ready = cipher && ctx && EVP_CipherInit_ex(ctx, cipher, nullptr, nullptr, nullptr, encrypt)
                 && EVP_CIPHER_CTX_set_key_length(ctx, int(kChatKey.size()))
                 && EVP_CipherInit_ex(ctx, nullptr, nullptr, key, nullptr, encrypt)
                 && EVP_CIPHER_CTX_set_padding(ctx, 0);
    std::vector<unsigned char> in = patternBytes(size);
    std::vector<unsigned char> out(size + 8);
    for (auto _ : state) {
        if (!ready)
            break;
        int written = 0;
        ready = EVP_CipherUpdate(ctx, out.data(), &written, in.data(), int(size))
                && written == int(size);
        benchmark::ClobberMemory();
    }
    if (!ready)
        state.SkipWithError("EVP_CipherUpdate failed");
    EVP_CIPHER_CTX_free(ctx);
    EVP_CIPHER_free(cipher);
    state.counters["value"] = benchmark::Counter(double(size) * double(state.iterations()) / 1e6,
                                                 benchmark::Counter::kIsRate);
}

void OpenSslEncrypt(benchmark::State& state)
{
    OpenSslBlowfish(
        state, 1, state.range(0) == 16 ? "openssl bf-ecb 16 B MB/s" : "openssl bf-ecb 1024 B MB/s");
}

void OpenSslDecrypt(benchmark::State& state)
{
    OpenSslBlowfish(state, 0,
                    state.range(0) == 16 ? "openssl bf-ecb decrypt 16 B MB/s"
                                         : "openssl bf-ecb decrypt 1024 B MB/s");
}

BENCHMARK(OurEncrypt)->Arg(16)->Arg(1024);
BENCHMARK(OpenSslEncrypt)->Arg(16)->Arg(1024);
BENCHMARK(OurDecrypt)->Arg(16)->Arg(1024);
BENCHMARK(OpenSslDecrypt)->Arg(16)->Arg(1024);

void SealOpen(benchmark::State& state)
{
    const peer::BlowfishState& key = chatState();
    const QByteArray text = "<bob> did you get the file? I sent it over an hour ago, ping me";
    const QByteArrayView line(text.constData(), 60);
    for (auto _ : state) {
        const std::optional<QByteArray> packet = peer::SealChatText(key, line);
        const std::optional<peer::OpenedChatPacket> opened = peer::OpenChatPacket(key, *packet);
        benchmark::DoNotOptimize(opened->text.constData());
    }
    const std::optional<QByteArray> packet = peer::SealChatText(key, line);
    if (!packet || peer::OpenChatPacket(key, *packet)->text != line)
        state.SkipWithError("the round trip changed the text");
    state.SetLabel("seal+open round trips/s");
    state.counters["value"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(SealOpen);

// The chat key's length: what every chat schedules when it starts.
void KeySchedule(benchmark::State& state)
{
    peer::BlowfishState schedule;
    for (auto _ : state) {
        peer::BlowfishInit(schedule, kChatKey);
        benchmark::DoNotOptimize(&schedule);
    }
    state.SetLabel("blowfish key schedule µs");
    state.counters["value"] =
        benchmark::Counter(double(state.iterations()) * 1e-6, kMicrosecondsEach);
}

BENCHMARK(KeySchedule)->Unit(benchmark::kMicrosecond);

} // namespace

namespace {

// A FiSH line of the length a long chat line comes to, sealed and opened again.
void FishRoundTrip(benchmark::State& state)
{
    const auto mode = state.range(0) == 0 ? peer::FishMode::Ecb : peer::FishMode::Cbc;
    peer::FishKey key;
    key.set("BxZ2uqXr1hJ3o8eFf0PjUvGm9TcL4wKdYs7aNn5RkQi");
    const QByteArray text(400, 'x');
    quint32 counter = 0;
    const peer::RandomSource random = [&counter] { return ++counter; };
    for (auto _ : state) {
        const peer::OpenedFishText opened =
            peer::openFishText(key, peer::sealFishText(key, mode, text, random));
        benchmark::DoNotOptimize(opened.text.data());
    }
    state.SetLabel(mode == peer::FishMode::Ecb ? "fish ecb 400 B seal+open/s"
                                               : "fish cbc 400 B seal+open/s");
    state.counters["value"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(FishRoundTrip)->Arg(0)->Arg(1);

// One side's whole DH1080 work: a key pair and the shared key from the other's public key.
void Dh1080Side(benchmark::State& state)
{
    const auto theirs = peer::dh1080::makeKeyPair();
    for (auto _ : state) {
        const auto ours = peer::dh1080::makeKeyPair();
        benchmark::DoNotOptimize(peer::dh1080::sharedKey(*ours, theirs->publicKey));
    }
    state.SetLabel("dh1080 key pair + shared key ms");
    state.counters["value"] =
        benchmark::Counter(double(state.iterations()) * 1e-3, kMicrosecondsEach);
}
BENCHMARK(Dh1080Side);

} // namespace
