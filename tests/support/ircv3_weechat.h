#pragma once

#include "tests/support/terminal_client.h"

#include <QByteArray>
#include <QTemporaryDir>

namespace test {

// Whether WeeChat can run as the IRCv3 contact: weechat-headless with its typing and python
// plugins (tools/test installs them).
bool haveIrcv3Weechat();

// WeeChat 3.8 as a contact on an IRCv3 server: it asks for every capability it knows ("*":
// account-notify, away-notify, cap-notify, extended-join, message-tags, server-time; not
// echo-message, labeled-response, batch or extended-monitor), shows who types to it and tells
// others when it types. Its own flood queue is off, so each command goes out at once. Driven
// through the fifo of a TerminalClient; a python script of its own notes every typing state its
// irc plugin hands to the typing plugin.
class Ircv3Weechat
{
public:
    // Connects to 127.0.0.1:`port` as `nick`; true once the server has welcomed it.
    bool start(quint16 port, const QByteArray& nick);
    void stop();

    // `/query`: opens its private buffer with `nick`, and returns once the buffer is there.
    // WeeChat ignores typing notifications from a nick it has no buffer for.
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
    // `/msg`: a private message to `nick`.
    bool say(const QByteArray& nick, const QByteArray& text);

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

    // Waits until its private buffer with `peer` shows `text` said by `speaker` (`peer`, or
    // its own nick for what it sent).
    bool waitForText(const QByteArray& peer, const QByteArray& speaker, const QByteArray& text,
                     int timeoutMs = 5000) const;
    // What its private buffer with `nick` shows, one "date\tspeaker\ttext" line each.
    QByteArray queryLog(const QByteArray& nick) const;

    // What it printed and logged, and the typing states it noted, for failure messages.
    QByteArray log() const;

private:
    static QByteArray queryBuffer(const QByteArray& nick);
    QString statesPath() const;
    bool confirmed(const QByteArray& command, const QByteArray& reply, int timeoutMs);

    QTemporaryDir m_folder;
    TerminalClient m_client;
    int m_marks = 0;
};

} // namespace test
