#pragma once

#include <QByteArray>
#include <QString>

namespace irc {

// A step of the server link's progress, as the link reports it; statusText() words it.
struct LinkStatus
{
    enum class Step {
        NoServers,
        AllServersFailed,
        ResolveFailed,
        SendingUserInfo,
        Connected,
        Reconnecting,
        Disconnected,
    };

    LinkStatus() = default;
    LinkStatus(Step what, int index = 0, QByteArray serverAddress = {})
        : step(what)
        , serverIndex(index)
        , address(std::move(serverAddress))
    {}

    Step step = Step::Disconnected;
    int serverIndex = 0; // Connected: the server's index; Reconnecting: the next one's
    QByteArray address;  // Connected: the server's address as stored

    bool operator==(const LinkStatus& o) const
    {
        return step == o.step && serverIndex == o.serverIndex && address == o.address;
    }
};

// The status bar's text for `status`.
QString statusText(const LinkStatus& status);
// The main window's title while registered under `nick`, and while not.
QString connectedTitle(const QByteArray& nick);
QString idleTitle();

} // namespace irc
