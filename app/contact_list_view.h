#pragma once

#include "irc/isupport.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QListWidget>

#include <functional>
#include <optional>

class QAction;
class QMenu;

namespace irc {
class PresencePoller;
}

namespace app {

// The contact list: who of the contacts is online, sorted as people read names, or one hint
// row that is not a contact. Right click over a contact pops up its menu; a double click asks
// for a chat.
class ContactListView : public QListWidget
{
    Q_OBJECT

public:
    // Shows who is online, or why nobody can be, as the presence reports it from now on.
    void follow(irc::PresencePoller& presence);

    explicit ContactListView(QWidget* parent = nullptr);

    // The contact's menu; "Encrypt Chat" and "Forget Private Link Key" are added at its end.
    void setPopupMenu(QMenu* menu);
    QMenu* popupMenu() const { return m_popup; }
    // Whether a contact has a pinned private link key: the menu item that forgets it is enabled
    // only then.
    void setPinCheck(std::function<bool(const QByteArray& nick)> hasPin)
    {
        m_hasPin = std::move(hasPin);
    }
    QAction* forgetKeyAction() const { return m_forgetKey; }
    QAction* encryptAction() const { return m_encrypt; }

    // The selected contact; nothing when none is selected or the selection is a hint row.
    std::optional<QByteArray> selectedContact() const;
    // Nicks are compared as the server folds them (after setCaseMapping).
    bool showsContact(const QByteArray& nick) const;
    // Selects `nick`'s row; false when it is not shown.
    bool selectContact(const QByteArray& nick);

public slots:
    // The online contacts of a poll, keeping the selection where it was.
    void showOnline(const QList<QByteArray>& names);
    // Nobody is configured: a hint where the contacts would be.
    void showHint();
    // The server cannot say who is online: every contact, marked as unknown, under one hint
    // row, so that they can still be chosen.
    void showUnknown(const QList<QByteArray>& contacts);
    // The link dropped: every contact, marked as unknown, under a hint that says why.
    void showLinkDown(const QList<QByteArray>& contacts);
    void setCaseMapping(irc::CaseMapping mapping) { m_caseMapping = mapping; }
    // The contact went away with `text`, or came back (none): its row and icon say so, with the
    // away text as its tooltip.
    void setAway(const QByteArray& nick, const std::optional<QByteArray>& text);
    // Nothing is known of anyone's absence (a new connection, or the server stopped saying).
    void clearAway();

signals:
    void chatRequested(const QByteArray& nick);
    // The user asked to forget the pinned private link key of `nick`.
    void forgetKeyRequested(const QByteArray& nick);
    // The user asked to encrypt the relayed chats with `nick` (a key exchange).
    void encryptRequested(const QByteArray& nick);

protected:
    void resizeEvent(QResizeEvent* event) override;
    // A row's tooltip may hold what the network sent (an away text): shown as plain text, never
    // as the markup Qt would otherwise guess it to be.
    bool viewportEvent(QEvent* event) override;

private:
    void showSingleItem(const QString& text, const QIcon& icon);
    // Every contact greyed, under a hint row saying why their presence is unknown.
    void showGreyed(const QList<QByteArray>& contacts, const QString& why);
    // The hint row as wide as the list and as high as its wrapped text.
    void fitHintRow();
    void showPopup(const QPoint& position);
    QListWidgetItem* contactRow(const QByteArray& nick) const;
    void showAwayOf(QListWidgetItem* row, const QByteArray& nick);

    QMenu* m_popup = nullptr;
    QAction* m_forgetKey = nullptr;
    QAction* m_encrypt = nullptr;
    std::function<bool(const QByteArray&)> m_hasPin;
    // The contact the menu was opened over: a poll may rebuild the rows while it is open.
    QByteArray m_menuNick;
    irc::CaseMapping m_caseMapping = irc::CaseMapping::Rfc1459;
    // Away contacts by folded nick, with their away text.
    QHash<QByteArray, QByteArray> m_away;
};

} // namespace app
