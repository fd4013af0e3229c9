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

std::string toStd(const QByteArray& bytes)
{
    return bytes.toStdString();
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
    for (const QByteArray& param : message.params)
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

        const std::optional<irc::Message> message = irc::parseMessage(bytes(input));
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

        const irc::UserHost parts = irc::splitUserHost(bytes(source));
        EXPECT_EQ(toStd(parts.nick), text(atoms["nick"]));
        EXPECT_EQ(toStd(parts.user), text(atoms["user"]));
        EXPECT_EQ(toStd(parts.host), text(atoms["host"]));
    }
}

TEST(ParseMessage, SurvivesHostileLines)
{
    struct Case
    {
        QByteArray line;
        std::optional<irc::Message> expected;
    };
    const Case cases[] = {
        {"", std::nullopt},
        {"      ", std::nullopt},
        {":", std::nullopt},
        {"@", std::nullopt},
        {"@a=b", std::nullopt},
        {":src   ", std::nullopt},
        {"@a=b :src", std::nullopt},
        {": PING", irc::Message{{}, "", "PING", {}}},
        {"  PING x", irc::Message{{}, "", "PING", {"x"}}},
        {QByteArray("\0", 1), irc::Message{{}, "", QByteArray("\0", 1), {}}},
        {QByteArray("PI\0NG :a\0b", 10),
         irc::Message{{}, "", QByteArray("PI\0NG", 5), {QByteArray("a\0b", 3)}}},
        {QByteArray(":n\0!u@h X", 9), irc::Message{{}, QByteArray("n\0!u@h", 6), "X", {}}},
        {"CMD \t :", irc::Message{{}, "", "CMD", {"\t", ""}}},
        {"CMD :::", irc::Message{{}, "", "CMD", {"::"}}},
        {"@;;=x;=;a FOO", irc::Message{{{"a", ""}}, "", "FOO", {}}},
        {"@a=\\ FOO", irc::Message{{{"a", ""}}, "", "FOO", {}}},
        {"@a=x=y\\\\\\ FOO", irc::Message{{{"a", "x=y\\"}}, "", "FOO", {}}},
        {"@a=1;b=2;a FOO", irc::Message{{{"a", ""}, {"b", "2"}}, "", "FOO", {}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("line " + show(c.line));
        const std::optional<irc::Message> message = irc::parseMessage(c.line);
        ASSERT_EQ(message.has_value(), c.expected.has_value());
        if (!message)
            continue;
        EXPECT_EQ(tagsOf(*message), tagsOf(*c.expected));
        EXPECT_EQ(toStd(message->source), toStd(c.expected->source));
        EXPECT_EQ(toStd(message->command), toStd(c.expected->command));
        EXPECT_EQ(paramsOf(*message), paramsOf(*c.expected));
        EXPECT_TRUE(*message == *c.expected);
    }
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
    EXPECT_EQ(message->params, (QList<QByteArray>{"#c", "hi"}));
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
