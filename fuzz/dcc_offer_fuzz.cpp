// DCC offers from anyone: parsing never reads past the line, a refused offer stays refused, and
// whatever name a file offer carries, what we would save it under stays inside the folder. The
// same for resume requests, whose positions are never guessed at.
#include "fuzz_check.h"
#include "irc/dcc_offer.h"

#include <QHostAddress>

#include <fuzzer/FuzzedDataProvider.h>

namespace {

void checkSafeName(const QByteArray& name)
{
    FUZZ_CHECK(!name.isEmpty() && name.size() <= 255);
    FUZZ_CHECK(!name.contains('/') && !name.contains('\\'));
    FUZZ_CHECK(name != "." && name != "..");
    for (char c : name)
        FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20 && c != 0x7f);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const auto kind = static_cast<irc::DccKind>(input.ConsumeIntegralInRange(0, 2));
    const bool serverOnLoopback = input.ConsumeBool();
    const bool secure = input.ConsumeBool();
    const std::string rest = input.ConsumeRemainingBytesAsString();
    const QByteArray line(rest.data(), qsizetype(rest.size()));

    const auto offer = irc::parseDccOffer(kind, "bob", line, secure);
    if (offer) {
        FUZZ_CHECK(offer->kind == kind);
        FUZZ_CHECK(!offer->passive() || !offer->token.isEmpty());
        const auto refusal = irc::offerRefusal(*offer, serverOnLoopback);
        // A passive offer is never connected to; every other one that passes names a port we
        // may connect to at an address that can be a peer.
        if (!refusal && !offer->passive()) {
            FUZZ_CHECK(offer->port >= 1024);
            const QHostAddress& host = offer->address;
            FUZZ_CHECK(!host.isNull() && !host.isMulticast() && !host.isLinkLocal());
            FUZZ_CHECK(!host.isLoopback() || serverOnLoopback);
            FUZZ_CHECK(host.scopeId().isEmpty());
            if (host.protocol() == QAbstractSocket::IPv4Protocol)
                FUZZ_CHECK(host.toIPv4Address() != 0 && host.toIPv4Address() != 0xffffffffu);
        }
        if (!offer->fileName.isEmpty()) {
            if (const auto name = irc::SafeFileName(offer->fileName))
                checkSafeName(*name);
        }
    }
    // The file name paths on their own, over the whole input.
    if (const auto name = irc::SafeFileName(line))
        checkSafeName(*name);
    const QByteArray base = irc::GetBaseName(line);
    FUZZ_CHECK(!base.contains('/') && !base.contains('\\'));

    for (const auto resumeKind : {irc::DccResumeKind::Resume, irc::DccResumeKind::Accept}) {
        if (const auto resume = irc::parseDccResume(resumeKind, "bob", line)) {
            // A position is digits only: what a sign, a blank or an overflow would make of it
            // never reaches a seek.
            if (resume->position)
                FUZZ_CHECK(line.contains(QByteArray::number(*resume->position)));
        }
    }

    // What we send back must stay one line, whatever nick, name or token it names.
    const QByteArray nick = line.left(16);
    for (const auto& sent :
         {irc::formatChatOffer(nick, 0x7f000001, 1024),
          irc::formatVoiceOffer(nick, 0x7f000001, 1024),
          irc::formatFileOffer(nick, base, 0x7f000001, 1024, 5),
          irc::formatOffer({irc::DccKind::Send, nick, "::1", 0, base, 5, line.right(8), secure}),
          irc::formatDccResume(irc::DccResumeKind::Resume, nick, base, 0, 7, line.right(8))}) {
        if (sent)
            FUZZ_CHECK(fuzz::isSafeWireLine(*sent));
    }
    return 0;
}
