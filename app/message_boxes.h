#pragma once

#include "irc/ctcp.h"

#include <QString>

class QWidget;

namespace app {

// The boxes the main window shows for what the network answered. Every one shows the network's
// text as plain text, never takes the keyboard and never holds up the lines behind it.
class MessageBoxes
{
public:
    explicit MessageBoxes(QWidget& owner)
        : m_owner(owner)
    {}

    void showWhois(const QString& text);
    // One box per kind of reply at a time; the rest go to the debug log.
    void showCtcpReply(irc::CtcpCode code, const QString& title, const QString& text);

private:
    QWidget& m_owner;
    irc::CtcpReplyBoxes m_replyBoxes;
};

// The About box, owned by `owner`: a new one each time, not modal.
void showAboutBox(QWidget* owner);

} // namespace app
