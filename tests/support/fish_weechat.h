#pragma once

#include "tests/support/terminal_client.h"

#include <QByteArray>
#include <QTemporaryDir>

namespace test {

// Whether WeeChat can run fish.py here: weechat-headless with its python plugin, Debian's
// weechat-scripts and a Blowfish for python (python3-pycryptodome; tools/test installs them).
bool haveFishWeechat();

// WeeChat with fish.py 0.13 as a FiSH peer on loopback: it encrypts private messages in ECB
// ("+OK " and FiSH's base64), decrypts ECB and CBC ("+OK *"), and answers a DH1080_INIT with a
// DH1080_FINISH of its own, ignoring a " CBC" tail (the key it then holds is used in ECB).
// Driven through the fifo of a TerminalClient; what it received is read from its buffers' logs.
class FishWeechat
{
public:
    // Connects to 127.0.0.1:`port` as `nick`; true once the server has welcomed it.
    bool start(quint16 port, const QByteArray& nick);
    void stop();

    // `/blowkey set`: messages to and from `nick` are encrypted with `key` from now on.
    bool setKey(const QByteArray& nick, const QByteArray& key);
    // `/blowkey exchange`: sends `nick` a NOTICE "DH1080_INIT <public key>".
    bool startKeyExchange(const QByteArray& nick);
    // A private message to `nick`, which fish.py encrypts when it holds a key for `nick`.
    bool say(const QByteArray& nick, const QByteArray& text);
    // Waits until its query with `from` shows `text` from `from`, as it shows it: decrypted
    // when it held the key.
    bool waitForText(const QByteArray& from, const QByteArray& text, int timeoutMs = 10000);
    // The key it holds for `nick` (as `/blowkey` lists it), empty when none; waits at most
    // `timeoutMs` for the listing.
    QByteArray key(const QByteArray& nick, int timeoutMs = 10000);

    // "WeeChat 3.8, fish.py 0.13", for the test log.
    static QByteArray versions();
    // What it printed and logged, for failure messages.
    QByteArray log() const { return m_client.log(); }

private:
    QTemporaryDir m_folder;
    TerminalClient m_client;
    QByteArray m_nick;
    int m_listings = 0;
};

} // namespace test
