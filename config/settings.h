#pragma once

#include <QByteArray>

namespace config {

// The personal settings. Texts are kept as the bytes stored, since they go onto the wire as they
// are (nick, realname, away text); a flag is on when its stored first byte is non-zero.
struct Settings
{
    QByteArray nick;
    QByteArray away;
    bool awayset = false;
    QByteArray realname;
    QByteArray email;
    bool autoconnect = false;
    bool queryip = false;
    bool logging = false;
    // Off in stores written before it existed, since a missing flag reads as off.
    bool fastsend = false;
    QByteArray altnick;
    // The server password is not a personal setting: each server entry has its own (the
    // store's serverPassword()).
    // On in stores written before they existed: a missing "reconnect" or "notify" reads as on.
    // reconnect: a pass over the server list that ends after a lost link starts again later.
    bool reconnect = true;
    // notify: desktop notifications.
    bool notify = true;
    // Off in stores written before they existed, and stored only when on.
    // passivedcc: our chat and file offers are passive (the peer listens), for users behind NAT.
    bool passivedcc = false;
    // privatedcc: our chat and file offers run TLS (SCHAT / SSEND), pinned per contact.
    bool privatedcc = false;
    // On in stores written before they existed, and stored only when off.
    // ircv3: ask the server for the IRCv3 extensions (away, server time, delivery, typing,
    // history); off, registration sends exactly the lines it always did.
    bool ircv3 = true;
    // typing: tell the people we chat with that we are typing (theirs is shown either way).
    bool typing = true;

    bool operator==(const Settings& o) const
    {
        return nick == o.nick && away == o.away && awayset == o.awayset && realname == o.realname
               && email == o.email && autoconnect == o.autoconnect && queryip == o.queryip
               && logging == o.logging && fastsend == o.fastsend && altnick == o.altnick
               && reconnect == o.reconnect && notify == o.notify && passivedcc == o.passivedcc
               && privatedcc == o.privatedcc && ircv3 == o.ircv3 && typing == o.typing;
    }
    bool operator!=(const Settings& o) const { return !(*this == o); }
};

// One server of the list. The stored limits (63 and 31 bytes) are checked by the store.
struct ServerEntry
{
    QByteArray address;
    QByteArray network;
    qint32 port = 0;
    // Connect with TLS. Stored as a '+' right after the colon ("irc.example.net:+6697"), the
    // usual way of writing a secure port, so that an entry without it reads as it always did.
    bool tls = false;

    bool operator==(const ServerEntry& o) const
    {
        return address == o.address && network == o.network && port == o.port && tls == o.tls;
    }
    bool operator!=(const ServerEntry& o) const { return !(*this == o); }
};

} // namespace config
