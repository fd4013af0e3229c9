// Whatever a server (or a peer through it) sends: every line we send back must be one safe IRC
// line, whatever bytes the input held.
#include "fuzz_check.h"
#include "irc/echo_match.h"
#include "irc/history_batches.h"
#include "irc/message_dispatcher.h"
#include "irc/registration.h"
#include "irc/sts.h"

#include <fuzzer/FuzzedDataProvider.h>

namespace {

// Checks every event the dispatcher emits and every line it would send.
struct Checks
{
    explicit Checks(irc::ServerEvents& events)
    {
        using E = irc::ServerEvents;
        QObject::connect(&events, &E::ctcpReply, [](QByteArrayView, const irc::Ctcp& reply) {
            FUZZ_CHECK(reply.code != irc::CtcpCode::None);
        });
        QObject::connect(&events, &E::ctcpQuery, [](QByteArrayView, const irc::Ctcp& query) {
            FUZZ_CHECK(query.code != irc::CtcpCode::None && query.text.startsWith('\x01'));
        });
        QObject::connect(&events, &E::dccOffer,
                         [](const irc::DccOffer& offer) { FUZZ_CHECK(!offer.sender.isEmpty()); });
        QObject::connect(&events, &E::privateText, [](const irc::PrivateText& text) {
            if (text.awayEcho)
                FUZZ_CHECK(fuzz::isSafeWireLine(*text.awayEcho));
        });
    }
    irc::LineServices services()
    {
        return {[] { return QByteArray("alice"); },
                [](const QByteArray& line) {
                    FUZZ_CHECK(fuzz::isSafeWireLine(line));
                    return true;
                },
                [this] { return now; }, [] { return QByteArray("myhost"); }, [](const QString&) {}};
    }

    qint64 now = 1000;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    config::Settings settings;
    settings.nick = "alice";
    settings.altnick = "alice_";
    settings.awayset = input.ConsumeBool();
    settings.away = "gone for lunch";
    irc::ServerEvents events;
    Checks actions(events);
    irc::MessageDispatcher dispatcher(settings, events, actions.services());
    // With the extensions granted, tagged lines, echoes and history batches are read too; the
    // negotiation itself sees every line as the link would show it.
    const bool extensions = input.ConsumeBool();
    irc::Registration registration("alice", "Alice", input.ConsumeBool() ? "alice:pw" : "",
                                   extensions);
    registration.setSecure(input.ConsumeBool());
    for (const QByteArray& line : registration.start(0))
        FUZZ_CHECK(fuzz::isSafeWireLine(line));
    if (extensions) {
        irc::Capabilities all;
        for (int bit = 0; bit < 9; ++bit)
            all.add(irc::Capability(1 << bit));
        dispatcher.setCapabilities(all);
    }
    irc::HistoryBatches batches;
    irc::PendingEchoes echoes;
    echoes.sent(1, "bob", "hello", QByteArray("kv1.1"), 0);
    // Several lines per input, so that state kept between lines (away reply rates, nick
    // collisions) is exercised too.
    while (input.remaining_bytes() > 0) {
        actions.now += input.ConsumeIntegralInRange<qint64>(0, 120'000);
        const std::string line = input.ConsumeRandomLengthString(1024);
        const QByteArray bytes(line.data(), qsizetype(line.size()));
        const std::optional<irc::Message> message = irc::parseMessage(bytes);
        if (!message)
            continue;
        for (const QByteArray& out : registration.take(*message).send)
            FUZZ_CHECK(fuzz::isSafeWireLine(out));
        if (const std::optional<QByteArray>& sts = registration.stsPolicy()) {
            if (const std::optional<irc::StsValue> value = irc::parseSts(*sts))
                FUZZ_CHECK(!value->port || *value->port > 0);
        }
        const irc::HistoryBatches::Taken taken = batches.take(*message);
        if (taken.finished)
            FUZZ_CHECK(taken.finished->lines.size() <= irc::HistoryBatches::kMaxLines);
        echoes.echoed(*message, "alice");
        echoes.refused(*message);
        dispatcher.HandleServerLine(*message);
    }
    return 0;
}
