#include "irc/ctcp.h"

#include <gtest/gtest.h>

#include <optional>

using irc::CtcpCode;

namespace {

std::string show(const std::optional<QByteArray>& bytes)
{
    return bytes ? bytes->toPercentEncoding(" :").toStdString() : std::string("(none)");
}

} // namespace

// A trailing text is split once: the keyword's code (or DCC) and the arguments after it, which
// the DCC offers are read from.
TEST(SplitCtcp, TakesTheKeywordAndTheArgumentsOnce)
{
    const struct
    {
        std::optional<QByteArray> text;
        std::optional<CtcpCode> code; // none: not a CTCP message of ours
        bool dcc;
        QByteArray arguments;
    } cases[] = {
        {std::nullopt, std::nullopt, false, ""},
        {"", std::nullopt, false, ""},
        {"hello", std::nullopt, false, ""},
        {"\001ACTION waves\001", std::nullopt, false, ""},
        {"\001version\001", std::nullopt, false, ""},
        {"\001VERSION\001", CtcpCode::Version, false, ""},
        {"\001VERSION", CtcpCode::Version, false, ""},
        {"\001PING 123\001", CtcpCode::Ping, false, "123"},
        // The byte after the keyword is skipped, whatever it is; one closing 0x01 goes.
        {"\001PINGS x\001", CtcpCode::Ping, false, " x"},
        {"\001TIME x\001\001", CtcpCode::Time, false, "x\001"},
        {"\001DCC SEND f 1 2 3\001", CtcpCode::None, true, "SEND f 1 2 3"},
        {"\001DCC CHAT chat 1 2", CtcpCode::None, true, "CHAT chat 1 2"},
        {"\001DCC", CtcpCode::None, true, ""},
        {"\001DCCX\001", CtcpCode::None, true, ""},
    };
    for (const auto& c : cases) {
        const std::optional<irc::Ctcp> ctcp =
            irc::splitCtcp(c.text ? std::optional<QByteArrayView>(*c.text) : std::nullopt);
        ASSERT_EQ(ctcp.has_value(), c.code.has_value()) << show(c.text);
        if (!ctcp)
            continue;
        EXPECT_EQ(ctcp->code, *c.code) << show(c.text);
        EXPECT_EQ(ctcp->dcc, c.dcc) << show(c.text);
        EXPECT_EQ(ctcp->arguments, c.arguments) << show(c.text);
        EXPECT_EQ(ctcp->text, *c.text) << show(c.text);
    }
}
