#pragma once

#include "config/peer_pin.h"
#include "config/server_value.h"
#include "config/settings.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <utility>
#include <vector>

namespace config {

class Registry;

inline constexpr char kKeyRoot[] = "SOFTWARE\\Kivvo";
inline constexpr char kKeyServers[] = "SOFTWARE\\Kivvo\\Servers";
inline constexpr char kKeyContacts[] = "SOFTWARE\\Kivvo\\Contacts";
// Certificates the user chose to trust, one value per server ("address:port"), holding the
// certificate's SHA-256 fingerprint in lower-case hex. Made on the first pin, so stores written
// before it existed stay as they are.
inline constexpr char kKeyPins[] = "SOFTWARE\\Kivvo\\Pins";
// Certificates of contacts' private direct links: one value per nick (as the program folds it),
// holding the SHA-256 fingerprint in lower-case hex, then " accepted" or " compared" for how the
// pin came to be (nothing: first seen, as every pin was before the two). Made on the first pin.
inline constexpr char kKeyPeerPins[] = "SOFTWARE\\Kivvo\\PeerPins";
// The keys of contacts' encrypted relayed chats: one value per nick (as the server folds it),
// in the form the chats write it (mode, verification and the key text). Kept here as a secret:
// where the desktop's secret service runs, the key text lives there instead. Made on the first
// key.
inline constexpr char kKeyChatKeys[] = "SOFTWARE\\Kivvo\\ChatKeys";
inline constexpr char kKeyChatHistory[] = "SOFTWARE\\Kivvo\\ChatHistory";
inline constexpr char kKeyStsPolicies[] = "SOFTWARE\\Kivvo\\StsPolicies";
// The server password of each server entry that has one: the value is named as the entry is in
// kKeyServers and holds the password as typed (an account as "account:password"). Made on the
// first password, so stores written before it existed stay as they are.
inline constexpr char kKeyServerPasswords[] = "SOFTWARE\\Kivvo\\ServerPasswords";
// Where stores written before passwords belonged to entries keep their one password; it belongs
// to the entry every start connects to first, the first of the list.
inline constexpr char kLegacyServerPass[] = "serverpass";

// Buffer sizes of the stored layout. A value that does not fit counts as missing (settings) or
// is skipped by an enumeration, so that one bad value never hides the ones stored after it.
inline constexpr int kSettingsFieldSize = 256; // texts of at most 255 bytes
inline constexpr int kAddressSize = 64;        // value name "address:port", at most 63 bytes
inline constexpr int kNetworkSize = 32;        // at most 31 bytes
// A contact is a nick, and servers announce (NICKLEN) nicks of up to 30 bytes and more; past
// this a name is no nick any server takes.
inline constexpr int kContactNameSize = 65; // at most 64 bytes
inline constexpr int kMaxContacts = 256;

// The nine store operations over the three keys of the configuration. Every write returns
// whether it was stored; it is not when the store is read-only or the disk is full.
class Store
{
public:
    explicit Store(Registry& registry)
        : m_registry(registry)
    {}

    Settings LoadSettings() const;
    // All values or none: a save that fails leaves the previous settings whole.
    bool SaveSettings(const Settings& settings);
    std::optional<QString> GetInstallDir() const;

    std::vector<ServerEntry> EnumServers() const;
    bool AddServer(const ServerEntry& server);
    // Removes the entry and its server password.
    bool RemoveServer(const ServerEntry& server);

    // The server password of `server`, empty when it has none. The password of an older store
    // counts as the first entry's until migrateServerPass() moved it there.
    QByteArray serverPassword(const ServerEntry& server) const;
    // An empty password removes it.
    bool setServerPassword(const ServerEntry& server, const QByteArray& password);
    // Moves an older store's single password to the first entry; true when nothing is left to
    // move. A read-only store keeps it where it is, and serverPassword() still finds it.
    bool migrateServerPass();

    // The fingerprint pinned for the server's certificate, if the user ever trusted one. The pin
    // belongs to the address and port, whatever network name the entry carries.
    std::optional<QByteArray> certificatePin(const ServerEntry& server) const;
    bool pinCertificate(const ServerEntry& server, const QByteArray& fingerprint);

    // The fingerprint pinned for the certificate a contact's private direct links present, if
    // one was ever seen. `nick` is the name the pin is kept under, the program's to choose (the
    // nick as the server folds it); the names compare without regard to ASCII case.
    std::optional<QByteArray> peerPin(const QByteArray& nick) const;
    // The pin with how it came to be.
    std::optional<PeerPin> peerPinRecord(const QByteArray& nick) const;
    bool pinPeer(const QByteArray& nick, const QByteArray& fingerprint,
                 PeerPinKind kind = PeerPinKind::FirstSeen);
    // The pin goes, so that the next private link with the contact starts afresh; true also
    // when there was none.
    bool forgetPin(const QByteArray& nick);
    // Every name a pin is kept under, in the order they were first pinned.
    QList<QByteArray> pinnedNicks() const;

    // The stored key of the relayed chats with `nick`, as the chats wrote it.
    std::optional<QByteArray> chatKey(const QByteArray& nick) const;
    bool setChatKey(const QByteArray& nick, const QByteArray& value);
    // True also when there was none.
    bool forgetChatKey(const QByteArray& nick);
    // Every name a chat key is kept under.
    QList<QByteArray> chatKeyNicks() const;

    // Where the history of the relayed chats with `nick` stands (the server's chathistory), as
    // the chats wrote it; under the nick as the server folds it.
    std::optional<QByteArray> historyMark(const QByteArray& nick) const;
    bool setHistoryMark(const QByteArray& nick, const QByteArray& value);
    // Several marks, as (nick, value), in one transaction: all or none.
    bool setHistoryMarks(const QList<std::pair<QByteArray, QByteArray>>& marks);

    // A server's policy of being reached over TLS only (its "sts"), under its host name as the
    // user wrote it in lower case; true also when forgetting what was not there.
    std::optional<QByteArray> stsPolicy(const QByteArray& host) const;
    bool setStsPolicy(const QByteArray& host, const QByteArray& value);
    bool forgetStsPolicy(const QByteArray& host);

    QList<QByteArray> EnumContacts() const;
    bool AddContact(const QByteArray& nick);
    bool RemoveContact(const QByteArray& nick);

    // The start-up test of "autoconnect": read into a zeroed 4-byte integer, so any value of at
    // most 4 bytes with a non-zero byte counts; a longer value does not fit and counts as off.
    bool autoconnectRequested() const;

    Registry& registry() { return m_registry; }

private:
    // One value per name under `key` (made on the first write), as pins and chat keys are kept.
    bool writeNamed(const char* key, const QByteArray& name, const QByteArray& value);
    bool forgetNamed(const char* key, const QByteArray& name);
    QList<QByteArray> namesIn(const char* key) const;

    Registry& m_registry;
};

} // namespace config
