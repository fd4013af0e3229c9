// TLS entries and certificate pins as the store keeps them.
#include "config/registry.h"
#include "config/store.h"
#include "tests/support/temp_store.h"
#include "tests/support/tls_irc_server.h"

#include <gtest/gtest.h>

#include <optional>

using test::fingerprintOf;
using test::kServerA;

TEST(ServerTlsStore, PlusAfterTheColonIsTlsAndAPlainEntryWritesAsBefore)
{
    test::TempStore temp;
    config::Store& store = temp.store();
    config::ServerEntry secure{"irc.example.net", "Net", 6697};
    secure.tls = true;
    ASSERT_TRUE(store.AddServer({"plain.example.net", "Net", 6667}));
    ASSERT_TRUE(store.AddServer(secure));
    temp.registry().writeValue(config::kKeyServers, "spaced.example.net: +7000", "Net");
    temp.registry().writeValue(config::kKeyServers, "Upper.Example.Net:+994", "Net");

    QList<QByteArray> names;
    for (const config::Registry::Value& value : temp.registry().values(config::kKeyServers))
        names << value.name;
    EXPECT_EQ(names, (QList<QByteArray>{"plain.example.net:6667", "irc.example.net:+6697",
                                        "spaced.example.net: +7000", "Upper.Example.Net:+994"}));

    const std::vector<config::ServerEntry> servers = store.EnumServers();
    ASSERT_EQ(servers.size(), 4u);
    EXPECT_EQ(servers[0], (config::ServerEntry{"plain.example.net", "Net", 6667}));
    EXPECT_FALSE(servers[0].tls);
    EXPECT_EQ(servers[1], secure);
    // Only the usual spelling asks for TLS: a blank before the sign is an old plain entry.
    EXPECT_FALSE(servers[2].tls);
    EXPECT_EQ(servers[2].port, 7000);
    EXPECT_TRUE(servers[3].tls);
    EXPECT_EQ(servers[3].address, "upper.example.net");
    EXPECT_EQ(servers[3].port, 994);

    // The TLS entry and a plain one on the same address and port are two entries.
    EXPECT_TRUE(store.AddServer({"irc.example.net", "Other", 6697}));
    EXPECT_EQ(store.EnumServers().size(), 5u);
    EXPECT_TRUE(store.RemoveServer(servers[1]));
    EXPECT_TRUE(store.RemoveServer(servers[3]));
    names.clear();
    for (const config::Registry::Value& value : temp.registry().values(config::kKeyServers))
        names << value.name;
    EXPECT_EQ(names, (QList<QByteArray>{"plain.example.net:6667", "spaced.example.net: +7000",
                                        "irc.example.net:6697"}));
}

TEST(ServerTlsStore, PinsBelongToAddressAndPort)
{
    test::TempStore temp;
    config::Store& store = temp.store();
    const QByteArray fingerprint = fingerprintOf(kServerA);
    config::ServerEntry server{"Irc.Example.Net", "Net", 6697};
    server.tls = true;
    EXPECT_EQ(store.certificatePin(server), std::nullopt);
    EXPECT_FALSE(store.pinCertificate(server, "not a fingerprint"));
    EXPECT_FALSE(store.pinCertificate(server, fingerprint.toUpper()));
    ASSERT_TRUE(store.pinCertificate(server, fingerprint));
    EXPECT_EQ(store.certificatePin(server), fingerprint);
    EXPECT_EQ(store.certificatePin({"irc.example.net", "Other", 6697}), fingerprint);
    EXPECT_EQ(store.certificatePin({"irc.example.net", "Net", 7000}), std::nullopt);
    EXPECT_EQ(temp.registry().readValue(config::kKeyPins, "irc.example.net:6697"), fingerprint);
    // A damaged pin pins nothing, so a later certificate is asked about instead of refused.
    temp.registry().writeValue(config::kKeyPins, "irc.example.net:6697", "damaged");
    EXPECT_EQ(store.certificatePin(server), std::nullopt);
}
