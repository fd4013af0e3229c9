#include "app/held_chats_entry.h"

#include "app/texts.h"
#include "diag/control_escape.h"
#include "diag/server_text.h"
#include "res/text_fit.h"

#include <QAction>
#include <QMenu>

namespace app {

HeldChatsEntry::HeldChatsEntry(QWidget* parent)
    : QToolButton(parent)
{
    setObjectName(QStringLiteral("HeldChats"));
    setPopupMode(QToolButton::InstantPopup);
    setToolButtonStyle(Qt::ToolButtonTextOnly);
    setMenu(new QMenu(this));
    hide();
}

void HeldChatsEntry::showNicks(const QList<QByteArray>& nicks)
{
    menu()->clear();
    for (const QByteArray& nick : nicks) {
        // Menu texts take '&' as a shortcut mark, and a line break would make one entry two.
        QString text = diag::escapeControls(diag::decodeServerText(nick));
        text.replace(QLatin1Char('&'), QLatin1String("&&"));
        connect(menu()->addAction(text), &QAction::triggered, this,
                [this, nick] { emit chosen(nick); });
    }
    if (!nicks.isEmpty()) {
        setText(nicks.size() == 1 ? tr(text::kOneMoreWrote)
                                  : tr(text::kMoreWrote).arg(nicks.size()));
        setToolTip(text());
        res::fitText(this);
    }
    setVisible(!nicks.isEmpty());
}

} // namespace app
