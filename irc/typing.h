#pragma once

#include "irc/message.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <optional>

namespace irc {

// The "+typing" client tag.
enum class TypingState { Active, Paused, Done };

QByteArrayView typingValue(TypingState state);
// The tag to send in a TAGMSG (Command::tagMsg).
Tag typingTag(TypingState state);
// The state a line announces; nothing when it carries no "+typing" tag or an unknown value.
std::optional<TypingState> typingState(const Message& message);

// What to tell a conversation about our typing, from the input line's edits. Each call returns
// the state to send now, if any; the caller sends it and owns no timing of its own.
class TypingSender
{
public:
    // "active" is repeated at most this often while the user keeps typing...
    static constexpr qint64 kActiveIntervalMs = 3000;
    // ...and turns into "paused" after this long without an edit.
    static constexpr qint64 kPauseAfterMs = 6000;

    explicit TypingSender(bool enabled = true)
        : m_enabled(enabled)
    {}

    // Turning sending off while something is announced returns Done, so that no one is left
    // seeing us type.
    std::optional<TypingState> setEnabled(bool enabled);
    bool isEnabled() const { return m_enabled; }

    // The input line now holds `inputText`. A command ("/...") or an empty line is not typing
    // a message: it ends what was announced.
    std::optional<TypingState> edited(const QString& inputText, qint64 nowMs);
    // Called now and then (the edge's timer): Paused once the edits have stopped.
    std::optional<TypingState> idle(qint64 nowMs);
    // The line was sent: Done, when something was announced.
    std::optional<TypingState> sent();

private:
    std::optional<TypingState> finish();

    bool m_enabled;
    std::optional<TypingState> m_announced; // Active or Paused, until Done is returned
    qint64 m_lastActiveMs = 0;
    qint64 m_lastEditMs = 0;
};

// Who is typing in one conversation. Nicks are compared as given: the caller folds them with the
// server's case mapping.
class TypingWatch
{
public:
    // "active" shows for this long unless repeated (the typing tag's own advice)...
    static constexpr qint64 kActiveShownMs = 6000;
    // ...and "paused" is shown as paused for this long, then hidden.
    static constexpr qint64 kPausedShownMs = 30000;
    // A busy channel cannot grow the list without bound: the stalest entry goes first.
    static constexpr qsizetype kMaxTypists = 64;

    struct Typist
    {
        QByteArray nick;
        bool paused = false;

        friend bool operator==(const Typist& a, const Typist& b)
        {
            return a.nick == b.nick && a.paused == b.paused;
        }
    };

    void received(const QByteArray& nick, TypingState state, qint64 nowMs);
    // A message from the nick (or its leaving) ends its typing at once.
    void messageFrom(const QByteArray& nick);
    // Those shown at `nowMs`, in the order they started typing.
    QList<Typist> typingNow(qint64 nowMs) const;

private:
    struct Entry
    {
        QByteArray nick;
        bool paused;
        qint64 untilMs;
    };
    void prune(qint64 nowMs);

    QList<Entry> m_entries;
};

} // namespace irc
