#pragma once

#include "tests/support/terminal_client.h"

#include <QByteArray>
#include <QTemporaryDir>

namespace test {

// WeeChat 3.8 (weechat-headless) as a contact on loopback, driven through the fifo of a
// TerminalClient; what it received is read from its buffers' logs. It plays one of two parts:
// - Fish: with fish.py 0.13, a FiSH peer. It encrypts private messages in ECB ("+OK " and FiSH's
//   base64), decrypts ECB and CBC ("+OK *"), and answers a DH1080_INIT with a DH1080_FINISH of
//   its own, ignoring a " CBC" tail (the key it then holds is used in ECB).
// - Ircv3: it asks for every capability it knows ("*": account-notify, away-notify, cap-notify,
//   extended-join, message-tags, server-time; not echo-message, labeled-response, batch or
//   extended-monitor), shows who types to it and tells others when it types. Its own flood queue
//   is off, so each command goes out at once; a python script of its own notes every typing
//   state its irc plugin hands to the typing plugin.
class WeechatPeer
{
public:
    enum class Part { Fish, Ircv3 };

    explicit WeechatPeer(Part part)
        : m_part(part)
    {}

    // Whether WeeChat can play `part` here: weechat-headless with its python plugin, and for
    // FiSH Debian's weechat-scripts and a Blowfish for python, for IRCv3 its typing plugin
    // (tools/test installs them).
    static bool available(Part part);
    // "WeeChat 3.8, fish.py 0.13", for the test log.
    static QByteArray fishVersions();

    // Connects to 127.0.0.1:`port` as `nick`; true once the server has welcomed it.
    bool start(quint16 port, const QByteArray& nick);
    void stop() { m_client.stop(); }

    // `/msg`: a private message to `nick` (encrypted by fish.py when it holds a key for `nick`).
    bool say(const QByteArray& nick, const QByteArray& text);
    // Waits until its private buffer with `peer` shows `text` said by `speaker` (`peer`, or its
    // own nick for what it sent), as it shows it: decrypted when it held the key.
    bool waitForText(const QByteArray& peer, const QByteArray& speaker, const QByteArray& text,
                     int timeoutMs = 10000) const;
    // What its private buffer with `nick` shows, one "date\tspeaker\ttext" line each.
    QByteArray queryLog(const QByteArray& nick) const;
    // What it printed and logged, and the typing states it noted, for failure messages.
    QByteArray log() const;

    // FiSH. `/blowkey set`: messages to and from `nick` are encrypted with `key` from now on.
    bool setKey(const QByteArray& nick, const QByteArray& key);
    // `/blowkey exchange`: sends `nick` a NOTICE "DH1080_INIT <public key>".
    bool startKeyExchange(const QByteArray& nick);
    // The key it holds for `nick` (as `/blowkey` lists it), empty when none; waits at most
    // `timeoutMs` for the listing.
    QByteArray key(const QByteArray& nick, int timeoutMs = 10000);

    // IRCv3. `/query`: opens its private buffer with `nick`, and returns once the buffer is
    // there. WeeChat ignores typing notifications from a nick it has no buffer for.
    bool openQuery(const QByteArray& nick);
    // Puts `text` into the input line of its private buffer with `nick`, as if typed, without
    // sending it. From the fourth character on it sends "@+typing=active TAGMSG <nick>" within a
    // second and again every few seconds while the text stays, then "paused" once the line has
    // not changed for ten seconds.
    bool type(const QByteArray& nick, const QByteArray& text);
    // Empties that input line, which sends "+typing=done".
    bool clearInput(const QByteArray& nick);
    // Sends what the input line holds as a private message (no "done" goes first).
    bool sendInput(const QByteArray& nick);
    // `/away <text>` and `/away`; each returns once the server has confirmed it (306 or 305).
    bool setAway(const QByteArray& text, int timeoutMs = 5000);
    bool setBack(int timeoutMs = 5000);
    // The last typing state that it took from `nick` in their private buffer: "typing",
    // "paused" or "off" (after "done", or when a message from `nick` arrives), empty when none.
    // Its typing plugin stops showing "typing" after 6 s and "paused" after 30 s without news;
    // this keeps the last state received.
    QByteArray typingState(const QByteArray& nick) const;
    bool waitForTypingState(const QByteArray& nick, const QByteArray& state,
                            int timeoutMs = 5000) const;

private:
    bool loadFish(TerminalClient::Extras& extras);
    bool loadTypingNotes(TerminalClient::Extras& extras);
    static QByteArray queryBuffer(const QByteArray& nick);
    QString statesPath() const { return m_folder.filePath("typing_states"); }
    bool confirmed(const QByteArray& command, const QByteArray& reply, int timeoutMs);

    Part m_part;
    QTemporaryDir m_folder;
    TerminalClient m_client;
    int m_marks = 0;
};

} // namespace test
