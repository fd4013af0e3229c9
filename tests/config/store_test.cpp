#include "config/installation.h"
#include "config/registry.h"
#include "config/store.h"
#include "tests/config/raw_store.h"
#include "tests/support/temp_store.h"

#include <QFileInfo>
#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <vector>

namespace {

using config::kKeyContacts;
using config::kKeyRoot;
using config::kKeyServers;
using config::ServerEntry;
using config::Settings;
using test::names;

Settings fullSettings()
{
    Settings s;
    s.nick = "longernick";
    s.altnick = "alt";
    s.away = "out for lunch";
    s.awayset = true;
    s.realname = "Real Name";
    s.email = "me@example.org";
    s.autoconnect = true;
    s.queryip = true;
    s.logging = true;
    return s;
}

TEST(Settings, MissingOrEmptyKeyLoadsAllEmptyAndAMissingOneTakesNothing)
{
    for (bool createKeys : {false, true}) {
        test::TempStore temp(createKeys);
        EXPECT_EQ(temp.store().LoadSettings(), Settings{});
        EXPECT_EQ(temp.store().GetInstallDir(), std::nullopt);
    }
    test::TempStore temp(false);
    EXPECT_FALSE(temp.store().SaveSettings(fullSettings()));
    EXPECT_FALSE(temp.registry().hasKey(kKeyRoot));
    EXPECT_TRUE(temp.registry().values(kKeyRoot).empty());
}

TEST(Settings, StoredAsExactBytesInFixedOrderAndOverwrittenInPlace)
{
    test::TempStore temp;
    Settings s = fullSettings();
    s.awayset = false;
    s.logging = false;
    EXPECT_TRUE(temp.store().SaveSettings(s));

    const std::vector<std::pair<QByteArray, QByteArray>> expected = {
        {"nick", "longernick"},    {"altnick", "alt"},        {"away", "out for lunch"},
        {"awayset", {"\x00", 1}},  {"realname", "Real Name"}, {"email", "me@example.org"},
        {"autoconnect", "\x01"},   {"queryip", "\x01"},       {"logging", {"\x00", 1}},
        {"fastsend", {"\x00", 1}},
    };
    const auto values = temp.registry().values(kKeyRoot);
    ASSERT_EQ(values.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(values[i].name, expected[i].first);
        EXPECT_EQ(values[i].data, expected[i].second) << values[i].name.constData();
    }
    EXPECT_EQ(temp.store().LoadSettings(), s);

    // Saved again, each value is overwritten in its place.
    const auto before = names(temp.registry(), kKeyRoot);

    Settings shorter;
    shorter.nick = "ab"; // shorter than before: nothing of "longernick" may survive
    temp.store().SaveSettings(shorter);
    EXPECT_EQ(temp.registry().readValue(kKeyRoot, "nick"), QByteArray("ab"));
    EXPECT_EQ(temp.registry().readValue(kKeyRoot, "away"), QByteArray());
    EXPECT_EQ(temp.store().LoadSettings(), shorter);
    EXPECT_EQ(names(temp.registry(), kKeyRoot), before);
}

TEST(Settings, TextFieldFitsAt255Bytes)
{
    const struct
    {
        const char* name;
        QByteArray Settings::*field;
    } fields[] = {
        {"nick", &Settings::nick},   {"altnick", &Settings::altnick},
        {"away", &Settings::away},   {"realname", &Settings::realname},
        {"email", &Settings::email},
    };
    for (const auto& f : fields) {
        for (int size : {255, 256, 1000}) {
            SCOPED_TRACE(testing::Message() << f.name << " " << size);
            test::TempStore temp;
            const QByteArray text(size, 'n');
            temp.registry().writeValue(kKeyRoot, f.name, text);
            EXPECT_EQ(temp.store().LoadSettings().*f.field, size <= 255 ? text : QByteArray());
        }
    }
}

TEST(Settings, FlagIsOnWhenFirstByteIsNonZero)
{
    const struct
    {
        QByteArray stored;
        bool on;
    } cases[] = {
        {"", false},
        {QByteArray::fromHex("00"), false},
        {QByteArray::fromHex("0001"), false},
        {QByteArray::fromHex("01"), true},
        {QByteArray::fromHex("ff00"), true},
        {"1", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored.toHex().constData());
        test::TempStore temp;
        for (const char* flag : {"awayset", "autoconnect", "queryip", "logging", "fastsend"})
            temp.registry().writeValue(kKeyRoot, flag, c.stored);
        const Settings s = temp.store().LoadSettings();
        for (bool flag : {s.awayset, s.autoconnect, s.queryip, s.logging, s.fastsend})
            EXPECT_EQ(flag, c.on);
    }
}

TEST(Settings, AutoconnectRequestedReadsAsFourByteInteger)
{
    const struct
    {
        std::optional<QByteArray> stored;
        bool requested;
    } cases[] = {
        {std::nullopt, false},
        {QByteArray(), false},
        {QByteArray::fromHex("00000000"), false},
        {QByteArray::fromHex("01"), true},
        {QByteArray::fromHex("00000001"), true},
        {QByteArray::fromHex("0000000001"), false}, // does not fit the integer
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored ? c.stored->toHex().constData() : "<missing>");
        test::TempStore temp;
        if (c.stored)
            temp.registry().writeValue(kKeyRoot, "autoconnect", *c.stored);
        EXPECT_EQ(temp.store().autoconnectRequested(), c.requested);
    }
}

TEST(Settings, InstallDirDecodesUtf8AndFitsAt4095Bytes)
{
    const struct
    {
        QByteArray stored;
        std::optional<QString> expected;
    } cases[] = {
        {"/home/j\xc3\xb6rg/kivvo", QString::fromUtf8("/home/j\xc3\xb6rg/kivvo")},
        {QByteArray(4095, 'd'), QString(4095, 'd')},
        {QByteArray(4096, 'd'), std::nullopt},
    };
    for (const auto& c : cases) {
        test::TempStore temp;
        temp.registry().writeValue(kKeyRoot, "installdir", c.stored);
        EXPECT_EQ(temp.store().GetInstallDir(), c.expected);
    }
}

// Flags that came later are stored only away from what a store without them means, so that an
// older build reads a store saved with the defaults unchanged: the DCC flags are off when
// missing, reconnect, notify, the IRCv3 extensions and typing notices on.
TEST(Settings, LaterFlagsAreStoredOnlyAwayFromTheirDefault)
{
    const struct
    {
        const char* name;
        bool Settings::*field;
        bool byDefault;
    } flags[] = {{"passivedcc", &Settings::passivedcc, false},
                 {"privatedcc", &Settings::privatedcc, false},
                 {"reconnect", &Settings::reconnect, true},
                 {"notify", &Settings::notify, true},
                 {"ircv3", &Settings::ircv3, true},
                 {"typing", &Settings::typing, true}};
    test::TempStore temp;
    ASSERT_TRUE(temp.store().SaveSettings(fullSettings()));
    const auto withoutFlags = names(temp.registry(), kKeyRoot);
    for (const auto& f : flags) {
        SCOPED_TRACE(f.name);
        EXPECT_EQ(Settings{}.*f.field, f.byDefault);
        EXPECT_EQ(temp.store().LoadSettings().*f.field, f.byDefault);
        for (const bool on : {!f.byDefault, f.byDefault}) {
            Settings s = fullSettings();
            s.*f.field = on;
            ASSERT_TRUE(temp.store().SaveSettings(s));
            EXPECT_EQ(temp.store().LoadSettings(), s);
            EXPECT_EQ(temp.registry().readValue(kKeyRoot, f.name),
                      on == f.byDefault ? std::nullopt
                                        : std::optional(QByteArray(1, on ? '\x01' : '\0')));
        }
        // Written by hand: the first byte decides, and a value too long to fit is as if missing.
        const std::pair<QByteArray, bool> stored[] = {{QByteArray(1, '\0'), false},
                                                      {"\x01", true},
                                                      {"", false},
                                                      {QByteArray(300, 'x'), f.byDefault}};
        for (const auto& [bytes, on] : stored) {
            temp.registry().writeValue(kKeyRoot, f.name, bytes);
            EXPECT_EQ(temp.store().LoadSettings().*f.field, on) << bytes.toHex().constData();
        }
        ASSERT_TRUE(temp.registry().deleteValue(kKeyRoot, f.name));
    }
    EXPECT_EQ(names(temp.registry(), kKeyRoot), withoutFlags);
}

TEST(Servers, SameNameInAnyCaseIsOneValueInItsPlaceAndRemovedByItsEnumeratedEntry)
{
    test::TempStore temp;
    config::Store& store = temp.store();
    EXPECT_TRUE(store.AddServer({"IRC.Example.org", "First", 6667}));
    EXPECT_TRUE(store.AddServer({"other.net", "Other", 7000}));
    EXPECT_TRUE(store.AddServer({"irc.example.org", "Second", 6667}));
    EXPECT_FALSE(store.AddServer({"", "Nowhere", 6667}));

    EXPECT_EQ(names(temp.registry(), kKeyServers),
              (std::vector<QByteArray>{"IRC.Example.org:6667", "other.net:7000"}));
    const std::vector<ServerEntry> expected = {
        {"irc.example.org", "Second", 6667},
        {"other.net", "Other", 7000},
    };
    EXPECT_EQ(store.EnumServers(), expected);

    temp.registry().writeValue(kKeyServers, "Bare.Host", "NoPort");
    store.AddServer({"Mixed.Case", "Net", 6667});
    store.AddServer({"keep.me", "Net", 6697});
    for (const ServerEntry& server : store.EnumServers()) {
        if (server.address != "keep.me") {
            EXPECT_TRUE(store.RemoveServer(server)); // lower-cased, port 0 for the bare one
        }
    }
    EXPECT_EQ(store.EnumServers(), (std::vector<ServerEntry>{{"keep.me", "Net", 6697}}));
    EXPECT_FALSE(store.RemoveServer({"", "Net", 6697}));
    EXPECT_TRUE(store.RemoveServer({"absent", "Net", 1}));
}

TEST(Servers, NameIsLowerCasedAndPortReadLikeAtoiAfterTheFirstColon)
{
    constexpr qint32 kMax = std::numeric_limits<qint32>::max();
    constexpr qint32 kMin = std::numeric_limits<qint32>::min();
    const struct
    {
        QByteArray name;
        QByteArray address;
        qint32 port;
    } cases[] = {
        {"a:6667", "a", 6667},
        {"Irc.EXAMPLE.Org:6667", "irc.example.org", 6667},
        {"a", "a", 0},
        {"a: 12x", "a", 12},
        {"a:\t+7", "a", 7},
        {"a:-5", "a", -5},
        {"a:x", "a", 0},
        {"a:", "a", 0},
        {"a:1:2", "a", 1},
        {"::1", "", 0},
        // An IPv6 literal is kept in brackets so that its colons are not the port's.
        {"[::1]:6667", "::1", 6667},
        {"[2001:DB8::7]:7000", "2001:db8::7", 7000},
        {"[::1]", "::1", 0},
        {"[::1]x", "::1", 0},
        {"a:2147483647", "a", kMax},
        {"a:99999999999", "a", kMax},
        {"a:18446744073709551621", "a", kMax}, // 2^64 + 5: a wrapping reader gets 5
        {"a:-18446744073709551621", "a", kMin},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name.constData());
        test::TempStore temp;
        temp.registry().writeValue(kKeyServers, c.name, "MixedNet"); // never lower-cased
        EXPECT_EQ(temp.store().EnumServers(),
                  (std::vector<ServerEntry>{{c.address, "MixedNet", c.port}}));
    }
}

TEST(Servers, AnIpv6LiteralIsStoredInBracketsAndRemovedAgain)
{
    test::TempStore temp;
    config::Store& store = temp.store();
    ServerEntry secure{"2001:db8::1", "Six", 6697};
    secure.tls = true;
    EXPECT_TRUE(store.AddServer({"::1", "Local", 6667}));
    EXPECT_TRUE(store.AddServer(secure));
    EXPECT_EQ(names(temp.registry(), kKeyServers),
              (std::vector<QByteArray>{"[::1]:6667", "[2001:db8::1]:+6697"}));
    EXPECT_EQ(store.EnumServers(), (std::vector<ServerEntry>{{"::1", "Local", 6667}, secure}));
    EXPECT_TRUE(store.RemoveServer({"::1", "Local", 6667}));
    EXPECT_EQ(store.EnumServers(), (std::vector<ServerEntry>{secure}));
}

TEST(Servers, ValueThatDoesNotFitIsSkippedNotTheEnd)
{
    test::TempStore temp;
    config::Registry& registry = temp.registry();
    registry.writeValue(kKeyServers, "first:1", "Net1");
    registry.writeValue(kKeyServers, QByteArray(64, 'h'), "TooLongName");
    registry.writeValue(kKeyServers, QByteArray(61, 'h') + ":2", QByteArray(31, 'n'));
    registry.writeValue(kKeyServers, "long.network:3", QByteArray(32, 'n'));
    registry.writeValue(kKeyServers, "last:4", "Net4");
    const std::vector<ServerEntry> expected = {
        {"first", "Net1", 1},
        {QByteArray(61, 'h'), QByteArray(31, 'n'), 2},
        {"last", "Net4", 4},
    };
    EXPECT_EQ(temp.store().EnumServers(), expected);
}

TEST(Contacts, OrderKeptAndStoredAsOneSpaceLongNameSkippedAndListCapped)
{
    test::TempStore temp;
    config::Store& store = temp.store();
    for (const char* nick : {"alice", "bob", "carol"})
        EXPECT_TRUE(store.AddContact(nick));
    EXPECT_FALSE(store.AddContact(""));
    EXPECT_TRUE(store.AddContact("ALICE"));
    EXPECT_TRUE(store.RemoveContact("nobody"));
    EXPECT_FALSE(store.RemoveContact(""));
    EXPECT_EQ(store.EnumContacts(), (QList<QByteArray>{"alice", "bob", "carol"}));
    EXPECT_EQ(temp.registry().readValue(kKeyContacts, "bob"), QByteArray(" "));

    store.RemoveContact("Bob");
    EXPECT_EQ(store.EnumContacts(), (QList<QByteArray>{"alice", "carol"}));
    store.RemoveContact("alice");
    store.RemoveContact("carol");

    // Servers allow nicks of 30 bytes and more; past 64 a name is no nick at all.
    store.AddContact("ninechars");
    store.AddContact("thirtycharsthirtycharsthirty30");
    store.AddContact(QByteArray(65, 'x'));
    for (int i = 0; i < 300; ++i)
        store.AddContact("c" + QByteArray::number(i));

    const QList<QByteArray> contacts = store.EnumContacts();
    ASSERT_EQ(contacts.size(), config::kMaxContacts);
    EXPECT_EQ(contacts.front(), "ninechars");
    EXPECT_EQ(contacts.at(1), "thirtycharsthirtycharsthirty30");
    EXPECT_EQ(contacts.at(2), "c0");
    EXPECT_EQ(contacts.back(), "c253");
}

TEST(Installation, FirstRunInstallsOnceOnly)
{
    test::TempStore temp(false);
    config::FirstRunDefaults defaults;
    defaults.installDir = temp.dirPath() + "/data/kivvo/";
    defaults.nick = "tester";
    ASSERT_TRUE(config::installIfMissing(temp.registry(), defaults));

    for (const char* key : {kKeyRoot, kKeyServers, kKeyContacts})
        EXPECT_TRUE(temp.registry().hasKey(key)) << key;
    const QString installDir = temp.dirPath() + "/data/kivvo";
    EXPECT_EQ(temp.store().GetInstallDir(), installDir);
    EXPECT_TRUE(QFileInfo(installDir + "/logs").isDir());
    EXPECT_EQ(temp.store().EnumServers(), (std::vector<ServerEntry>{{"127.0.0.1", "Local", 6667}}));
    EXPECT_TRUE(temp.store().autoconnectRequested());

    Settings expected;
    expected.nick = "tester";
    expected.altnick = "tester_";
    expected.realname = "Kivvo User";
    expected.autoconnect = true;
    EXPECT_EQ(temp.store().LoadSettings(), expected);

    // The user's own changes must survive a later start.
    expected.nick = "changed";
    temp.store().SaveSettings(expected);
    temp.store().RemoveServer({"127.0.0.1", "Local", 6667});
    defaults.nick = "other";
    EXPECT_FALSE(config::installIfMissing(temp.registry(), defaults));
    EXPECT_EQ(temp.store().LoadSettings(), expected);
    EXPECT_TRUE(temp.store().EnumServers().empty());
}

} // namespace
