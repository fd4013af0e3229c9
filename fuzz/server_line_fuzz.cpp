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

class CheckingActions : public irc::ServerLineActions
{
public:
    QByteArray nickInUse() const override { return m_nick; }
    qint64 nowMs() const override { return now; }
    QByteArray localHostName() const override { return "myhost"; }
    bool sendLine(const QByteArray& line) override
    {
        FUZZ_CHECK(fuzz::isSafeWireLine(line));
        return true;
    }
    void ctcpReply(QByteArrayView, const irc::Ctcp& reply) override
    {
        FUZZ_CHECK(reply.code != irc::CtcpCode::None);
    }
    void ctcpQuery(QByteArrayView, const irc::Ctcp& query) override
    {
        FUZZ_CHECK(query.code != irc::CtcpCode::None && query.text.startsWith('\x01'));
    }
    void dccOffer(const irc::DccOffer& offer) override { FUZZ_CHECK(!offer.sender.isEmpty()); }
    void privateText(QByteArrayView, std::optional<QByteArrayView>,
                     const std::optional<QByteArray>& awayEcho) override
    {
        if (awayEcho)
            FUZZ_CHECK(fuzz::isSafeWireLine(*awayEcho));
    }
    void presenceReply(const Names&) override {}
    void showWhois(QByteArrayView) override {}
    void resolveOwnHost(QByteArrayView) override {}
    void logStatus(const QString&) override {}

    qint64 now = 1000;

private:
    QByteArray m_nick = "alice";
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
    CheckingActions actions;
    irc::MessageDispatcher dispatcher(settings, actions);
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
