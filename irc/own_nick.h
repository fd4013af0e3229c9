#pragma once

#include "irc/message.h"

#include <QByteArray>

#include <optional>

namespace irc {

// The nick the server knows us by, which only the server says: the first parameter of its
// welcome (001), and every NICK whose source is us (services renaming us to Guest…, an
// operator's forced change, a nick the server cut). A nick we ask for is not ours until the
// server confirms it, so that echoes, away replies and offers never go by a nick someone else
// may hold. While registering, a refused nick (433 taken, 432 not allowed) is answered with the
// configured nick and the alternate in turn, a few rounds at most: a server that takes neither
// would otherwise see us alternate until it kills us for flooding. Once registered, a refused
// change is only reported: we keep the nick we have.
class OwnNick
{
public:
    // Three rounds of the nick and its alternate.
    static constexpr int kMaxTries = 6;

    struct Reply
    {
        bool renamed = false;             // a NICK of ours: nick() is the new one
        std::optional<QByteArray> askFor; // a refused nick: the one to ask for next
        bool gaveUp = false;              // refused once too often: nothing more is asked
        // The nick the server refused and its reason, to tell the user (432, or any refusal
        // once registered).
        struct Refusal
        {
            QByteArray nick;
            QByteArray reason;
        };
        std::optional<Refusal> refusal;
    };

    // A new registration asks for `nick`; `altnick` is tried when it is taken (the nick with a
    // '_' when there is none).
    void start(const QByteArray& nick, const QByteArray& altnick);
    // The choices changed (the settings): the next refusal tries these.
    void setChoices(const QByteArray& nick, const QByteArray& altnick);
    // We asked the server for `nick` ourselves; it is ours once the server says so.
    void asked(const QByteArray& nick);

    // One line from the server, parsed.
    Reply take(const Message& message);

    // The nick the server knows us by; before its welcome, the nick the registration asked for.
    const QByteArray& nick() const { return m_nick; }

private:
    Reply refused();
    static Reply::Refusal refusalOf(const Message& message);
    void confirmed(QByteArrayView nick);

    QByteArray m_nick;
    QByteArray m_configured;
    QByteArray m_altnick;
    QByteArray m_asked;
    int m_tries = 0;
    bool m_welcomed = false;
};

} // namespace irc
