// A store file that anyone may have edited: every stored value, whatever its bytes and length,
// decodes to settings, servers and contacts within the stored layout's limits, and settings
// written back read back the same.
#include "config/registry.h"
#include "config/store.h"
#include "fuzz_check.h"

#include <array>
#include <fuzzer/FuzzedDataProvider.h>

namespace {

constexpr std::array<const char*, 3> kKeys{config::kKeyRoot, config::kKeyServers,
                                           config::kKeyContacts};
constexpr std::array<const char*, 13> kRootNames{
    "nick",    "altnick",    "away",        "awayset",    "realname", "email", "logging",
    "queryip", "serverpass", "autoconnect", "installdir", "fastsend", "other"};

QByteArray take(FuzzedDataProvider& input, size_t max)
{
    const std::string s = input.ConsumeRandomLengthString(max);
    return QByteArray(s.data(), qsizetype(s.size()));
}

config::Registry& registry()
{
    // One in-memory database for the whole run: opening a file per input would measure SQLite.
    static config::Registry instance(QStringLiteral(":memory:"));
    static const bool keysMade = [] {
        for (const char* key : kKeys)
            instance.createKey(key);
        return true;
    }();
    (void)keysMade;
    return instance;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    config::Registry& reg = registry();
    FUZZ_CHECK(reg.isOpen());
    for (const char* key : kKeys) {
        for (const config::Registry::Value& value : reg.values(key))
            reg.deleteValue(key, value.name);
    }

    FuzzedDataProvider input(data, size);
    while (input.remaining_bytes() > 0) {
        const int key = input.ConsumeIntegralInRange(0, 2);
        const QByteArray name =
            key == 0 && input.ConsumeBool() ? QByteArray(
                kRootNames[input.ConsumeIntegralInRange<size_t>(0, kRootNames.size() - 1)])
                                            : take(input, 80);
        const QByteArray value = take(input, 300);
        reg.writeValue(kKeys[size_t(key)], name, value);
    }

    config::Store store(reg);
    const config::Settings settings = store.LoadSettings();
    for (const QByteArray* text :
         {&settings.nick, &settings.altnick, &settings.away, &settings.realname, &settings.email})
        FUZZ_CHECK(text->size() < config::kSettingsFieldSize);
    (void)store.autoconnectRequested();
    (void)store.GetInstallDir();

    for (const config::ServerEntry& server : store.EnumServers()) {
        FUZZ_CHECK(store.serverPassword(server).size() < config::kSettingsFieldSize);
        FUZZ_CHECK(server.address.size() < config::kAddressSize);
        FUZZ_CHECK(server.network.size() < config::kNetworkSize);
        // Colons only in an IPv6 literal, which the store keeps in brackets: the address never
        // swallows its brackets or the port after them.
        FUZZ_CHECK(!server.address.contains(']') || !server.address.contains(':'));
    }
    const QList<QByteArray> contacts = store.EnumContacts();
    FUZZ_CHECK(contacts.size() <= config::kMaxContacts);
    for (const QByteArray& contact : contacts)
        FUZZ_CHECK(!contact.isEmpty() && contact.size() < config::kContactNameSize);

    store.SaveSettings(settings);
    FUZZ_CHECK(store.LoadSettings() == settings);
    return 0;
}
