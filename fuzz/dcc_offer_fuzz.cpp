// DCC offers from anyone: parsing never reads past the line, a refused offer stays refused, and
// whatever name a file offer carries, what we would save it under stays inside the folder.
#include "fuzz_check.h"
#include "irc/dcc_offer.h"

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
    const std::string rest = input.ConsumeRemainingBytesAsString();
    const QByteArray line(rest.data(), qsizetype(rest.size()));

    const auto offer = irc::parseDccOffer(kind, line);
    if (offer) {
        FUZZ_CHECK(offer->kind == kind);
        const auto refusal = irc::offerRefusal(*offer, serverOnLoopback);
        if (!refusal) {
            FUZZ_CHECK(offer->port >= 1024);
            FUZZ_CHECK(offer->address != 0 && offer->address != 0xffffffffu);
            FUZZ_CHECK((offer->address >> 24) != 127 || serverOnLoopback);
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

    // What we send back must stay one line, whatever nick or name it names.
    const QByteArray nick = line.left(16);
    for (const auto& sent : {irc::formatChatOffer(nick, 0x7f000001, 1024),
                             irc::formatVoiceOffer(nick, 0x7f000001, 1024),
                             irc::formatFileOffer(nick, base, 0x7f000001, 1024, 5)}) {
        if (sent)
            FUZZ_CHECK(fuzz::isSafeWireLine(*sent));
    }
    return 0;
}
