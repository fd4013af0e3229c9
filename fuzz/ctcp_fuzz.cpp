// CTCP queries and replies from anyone: answers are safe single lines, reply boxes are bounded,
// and the answer limit holds for any timing.
#include "fuzz_check.h"
#include "irc/ctcp.h"

#include <array>
#include <fuzzer/FuzzedDataProvider.h>

namespace {

QByteArray take(FuzzedDataProvider& input, size_t max)
{
    const std::string s = input.ConsumeRandomLengthString(max);
    return QByteArray(s.data(), qsizetype(s.size()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const QByteArray sender = take(input, 64);
    const QByteArray nick = take(input, 64);
    // A clock as a real host has it; peer text is what may be extreme.
    const auto now = input.ConsumeIntegralInRange<qint64>(0, qint64(1) << 40);
    const QByteArray text = take(input, 2048);

    const int code = irc::ClassifyCtcp(QByteArrayView(text));
    FUZZ_CHECK(code >= 0 && code <= int(irc::CtcpCode::Encrypt));
    FUZZ_CHECK(irc::ClassifyCtcp(std::nullopt) == 0);

    const irc::CtcpLocalTime local{now, "07/12/2026", "13:45:00"};
    // Every code, not only the classified one: the caller may pass any of them.
    for (int c = 0; c <= int(irc::CtcpCode::Encrypt) + 1; ++c) {
        const auto answer = irc::answerCtcpQuery(sender, text, irc::CtcpCode(c), local);
        if (answer) {
            FUZZ_CHECK(fuzz::isSafeWireLine(*answer));
            FUZZ_CHECK(answer->startsWith("NOTICE " + sender + " :"));
        }
        const auto box = irc::readCtcpReply(text, irc::CtcpCode(c), now);
        if (box)
            FUZZ_CHECK(box->text.toUtf8().size() <= 4 * irc::kMaxReplyTextBytes);
    }

    for (const irc::ContactQuery kind : irc::kContactQueries) {
        const auto query = irc::buildCtcpQuery(kind, nick, now);
        if (query)
            FUZZ_CHECK(fuzz::isSafeWireLine(*query) && irc::isLineWord(nick));
    }

    // The limit over a monotonic clock driven by the rest of the input.
    irc::CtcpAnswerLimit limit;
    std::vector<qint64> answered;
    qint64 clock = 0;
    while (input.remaining_bytes() > 0) {
        clock += input.ConsumeIntegralInRange<qint64>(0, 3000);
        if (limit.admit(clock) == irc::CtcpAnswerVerdict::Answered)
            answered.push_back(clock);
        int inWindow = 0;
        for (qint64 at : answered)
            inWindow += clock - at < irc::CtcpAnswerLimit::kWindowMs ? 1 : 0;
        FUZZ_CHECK(inWindow <= irc::CtcpAnswerLimit::kMaxAnswers);
    }
    return 0;
}
