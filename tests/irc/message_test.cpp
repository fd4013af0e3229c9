#include "irc/message.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>
#include <yaml-cpp/yaml.h>

namespace {

using Tags = std::vector<std::pair<std::string, std::string>>;
using Params = std::vector<std::string>;

const std::string kVectorDir = KIVVO_SOURCE_DIR "/tests/data/ircdocs/";

// Percent-encoded, so that a failing line with control bytes or NULs can be read in the log.
std::string show(QByteArrayView bytes)
{
    return bytes.toByteArray().toPercentEncoding(" :@!;=\\").toStdString();
}

std::string toStd(QByteArrayView bytes)
{
    return std::string(bytes.data(), std::size_t(bytes.size()));
}

Tags tagsOf(const irc::Message& message)
{
    Tags tags;
    for (const irc::Tag& tag : message.tags)
        tags.emplace_back(toStd(tag.key), toStd(tag.value));
    return tags;
}

Params paramsOf(const irc::Message& message)
{
    Params params;
    for (const QByteArrayView param : message.params)
        params.push_back(toStd(param));
    return params;
}

std::string text(const YAML::Node& node)
{
    return node ? node.as<std::string>() : std::string();
}

QByteArray bytes(const std::string& s)
{
    return QByteArray(s.data(), static_cast<qsizetype>(s.size()));
}

YAML::Node loadVectors(const std::string& file)
{
    const YAML::Node root = YAML::LoadFile(kVectorDir + file);
    const YAML::Node tests = root["tests"];
    EXPECT_TRUE(tests.IsSequence()) << file;
    EXPECT_GT(tests.size(), 0u) << file;
    return tests;
}

} // namespace

TEST(ParseMessage, PassesEveryIrcdocsSplitVector)
{
    const YAML::Node tests = loadVectors("msg-split.yaml");
    for (const YAML::Node& test : tests) {
        const std::string input = test["input"].as<std::string>();
        const YAML::Node atoms = test["atoms"];
        SCOPED_TRACE("input " + show(bytes(input)));

        Tags tags;
        for (const auto& tag : atoms["tags"])
            tags.emplace_back(tag.first.as<std::string>(), text(tag.second));
        Params params;
        for (const YAML::Node& param : atoms["params"])
            params.push_back(param.as<std::string>());

        const QByteArray line = bytes(input); // the message views it
        const std::optional<irc::Message> message = irc::parseMessage(line);
        ASSERT_TRUE(message.has_value());
        EXPECT_EQ(tagsOf(*message), tags);
        EXPECT_EQ(toStd(message->source), text(atoms["source"]));
        EXPECT_EQ(toStd(message->command), text(atoms["verb"]));
        EXPECT_EQ(paramsOf(*message), params);
    }
}

TEST(SplitUserHost, PassesEveryIrcdocsUserHostVector)
{
    const YAML::Node tests = loadVectors("userhost-split.yaml");
    for (const YAML::Node& test : tests) {
        const std::string source = test["source"].as<std::string>();
        const YAML::Node atoms = test["atoms"];
        SCOPED_TRACE("source " + show(bytes(source)));

        const QByteArray viewed = bytes(source);
        const irc::UserHost parts = irc::splitUserHost(viewed);
        EXPECT_EQ(toStd(parts.nick), text(atoms["nick"]));
        EXPECT_EQ(toStd(parts.user), text(atoms["user"]));
        EXPECT_EQ(toStd(parts.host), text(atoms["host"]));
    }
}

TEST(ParseMessage, SurvivesHostileLines)
{
    // The parts as owned bytes: a message only views the line it came from.
    struct Parts
    {
        Tags tags;
        std::string source;
        std::string command;
        Params params;
        bool trailing = false;
    };
    using S = std::string;
    const struct
    {
        QByteArray line;
        std::optional<Parts> expected;
    } cases[] = {
        {"", std::nullopt},
        {"      ", std::nullopt},
        {":", std::nullopt},
        {"@", std::nullopt},
        {"@a=b", std::nullopt},
        {":src   ", std::nullopt},
        {"@a=b :src", std::nullopt},
        {": PING", Parts{{}, "", "PING", {}}},
        {"  PING x", Parts{{}, "", "PING", {"x"}}},
        {QByteArray("\0", 1), Parts{{}, "", S("\0", 1), {}}},
        {QByteArray("PI\0NG :a\0b", 10), Parts{{}, "", S("PI\0NG", 5), {S("a\0b", 3)}, true}},
        {QByteArray(":n\0!u@h X", 9), Parts{{}, S("n\0!u@h", 6), "X", {}}},
        {"CMD \t :", Parts{{}, "", "CMD", {"\t", ""}, true}},
        {"CMD :::", Parts{{}, "", "CMD", {"::"}, true}},
        {"CMD a b", Parts{{}, "", "CMD", {"a", "b"}, false}},
        {"CMD a  :b  c ", Parts{{}, "", "CMD", {"a", "b  c "}, true}},
        {"@;;=x;=;a FOO", Parts{{{"a", ""}}, "", "FOO", {}}},
        {"@a=\\ FOO", Parts{{{"a", ""}}, "", "FOO", {}}},
        {"@a=x=y\\\\\\ FOO", Parts{{{"a", "x=y\\"}}, "", "FOO", {}}},
        {"@a=1;b=2;a FOO", Parts{{{"a", ""}, {"b", "2"}}, "", "FOO", {}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("line " + show(c.line));
        const std::optional<irc::Message> message = irc::parseMessage(c.line);
        ASSERT_EQ(message.has_value(), c.expected.has_value());
        if (!message)
            continue;
        EXPECT_EQ(tagsOf(*message), c.expected->tags);
        EXPECT_EQ(toStd(message->source), c.expected->source);
        EXPECT_EQ(toStd(message->command), c.expected->command);
        EXPECT_EQ(paramsOf(*message), c.expected->params);
        EXPECT_EQ(message->hasTrailing, c.expected->trailing);
        EXPECT_EQ(message->middleCount(),
                  qsizetype(c.expected->params.size()) - (c.expected->trailing ? 1 : 0));
        EXPECT_EQ(message->line, c.line);
    }
}

// The common lines are parsed without a copy: every part lies inside the line.
TEST(ParseMessage, PartsViewTheLine)
{
    const QByteArray line = ":bob!b@h PRIVMSG alice :hello there";
    const std::optional<irc::Message> message = irc::parseMessage(line);
    ASSERT_TRUE(message);
    const auto inside = [&](QByteArrayView part) {
        return part.data() >= line.constData()
               && part.data() + part.size() <= line.constData() + line.size();
    };
    EXPECT_TRUE(inside(message->source));
    EXPECT_TRUE(inside(message->command));
    for (const QByteArrayView param : message->params)
        EXPECT_TRUE(inside(param));
    EXPECT_EQ(message->trailing(), QByteArrayView("hello there"));
    EXPECT_EQ(message->commandEnd(), 16);
}

// A megabyte of distinct tags must parse in linear time, and a repeat that arrives after the
// index has switched from scanning to hashing must still overwrite the first one in place.
TEST(ParseMessage, MegabyteOfTagsKeepsOrderAndLastValue)
{
    QByteArray line = "@";
    int count = 0;
    while (line.size() < 1024 * 1024)
        line += "k" + QByteArray::number(count++) + "=v;";
    line += "k0=first;k20=twentieth;k" + QByteArray::number(count - 1) + "=last";
    line += " :src PRIVMSG #c :hi";

    const std::optional<irc::Message> message = irc::parseMessage(line);
    ASSERT_TRUE(message.has_value());
    ASSERT_EQ(message->tags.size(), count);
    EXPECT_EQ(message->tags.first(), (irc::Tag{"k0", "first"}));
    EXPECT_EQ(message->tags.at(1), (irc::Tag{"k1", "v"}));
    EXPECT_EQ(message->tags.at(20), (irc::Tag{"k20", "twentieth"}));
    EXPECT_EQ(message->tags.last(), (irc::Tag{"k" + QByteArray::number(count - 1), "last"}));
    EXPECT_EQ(message->source, "src");
    EXPECT_EQ(paramsOf(*message), (Params{"#c", "hi"}));
}

TEST(ParseMessage, MegabyteOfOneRepeatedTagKeepsOneTag)
{
    QByteArray line = "@";
    while (line.size() < 1024 * 1024)
        line += "a=\\s;";
    line += "a=end FOO";

    const std::optional<irc::Message> message = irc::parseMessage(line);
    ASSERT_TRUE(message.has_value());
    EXPECT_EQ(message->tags, (QList<irc::Tag>{{"a", "end"}}));
    EXPECT_EQ(message->command, "FOO");
}

TEST(SplitUserHost, KeepsOddSourcesWhole)
{
    struct Case
    {
        QByteArray source;
        irc::UserHost expected;
    };
    const Case cases[] = {
        {"", {}},
        {"!@", {}},
        {"irc.example.net", {"irc.example.net", "", ""}},
        {"n!u@h@x", {"n", "u", "h@x"}},
        {"n!u!v@h", {"n", "u!v", "h"}},
        {"n@h!x", {"n", "", "h!x"}},
        {"n!u@2001:db8::1", {"n", "u", "2001:db8::1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("source " + show(c.source));
        const irc::UserHost parts = irc::splitUserHost(c.source);
        EXPECT_EQ(toStd(parts.nick), toStd(c.expected.nick));
        EXPECT_EQ(toStd(parts.user), toStd(c.expected.user));
        EXPECT_EQ(toStd(parts.host), toStd(c.expected.host));
    }
}
