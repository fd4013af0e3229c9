#include "app/contact_list_view.h"

#include "app/texts.h"
#include "diag/control_escape.h"
#include "diag/server_text.h"
#include "irc/presence_poller.h"
#include "res/resources.h"

#include <QAction>
#include <QHelpEvent>
#include <QIcon>
#include <QMenu>
#include <QPixmap>
#include <QStyle>
#include <QTextDocument>
#include <QToolTip>

#include <algorithm>

namespace app {

namespace {

// Marks the hint and "No Contacts Online" rows, which are not contacts.
constexpr int kNotAContactRole = Qt::UserRole + 1;
// Marks the first-run hint, which wraps to the list's width.
constexpr int kHintRole = Qt::UserRole + 3;
// Rows of a lower rank come first whatever their text: the hint above contacts of unknown
// presence.
constexpr int kRankRole = Qt::UserRole + 2;

// Sorted as people read names, without regard to case.
class ContactItem : public QListWidgetItem
{
public:
    using QListWidgetItem::QListWidgetItem;
    bool operator<(const QListWidgetItem& other) const override
    {
        const int rank = data(kRankRole).toInt();
        const int otherRank = other.data(kRankRole).toInt();
        if (rank != otherRank)
            return rank < otherRank;
        return text().compare(other.text(), Qt::CaseInsensitive) < 0;
    }
};

QIcon contactIcon()
{
    return res::icon(QStringLiteral("CONTACT"));
}

} // namespace

ContactListView::ContactListView(QWidget* parent)
    : QListWidget(parent)
{
    setObjectName(QStringLiteral("contacts"));
    setViewMode(QListView::ListMode);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setIconSize(QSize(16, 16));
    // Only the hint has blanks to wrap at; a nick never does.
    setWordWrap(true);
    setSortingEnabled(true);
    sortItems(Qt::AscendingOrder);
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, &ContactListView::showPopup);
    connect(this, &QListWidget::itemDoubleClicked, this, [this] {
        if (const auto nick = selectedContact())
            emit chatRequested(*nick);
    });
    m_encrypt = new QAction(tr(text::kEncryptChat), this);
    m_encrypt->setObjectName(QStringLiteral("EncryptChat"));
    connect(m_encrypt, &QAction::triggered, this, [this] {
        if (!m_menuNick.isEmpty())
            emit encryptRequested(m_menuNick);
    });
    m_forgetKey = new QAction(tr(text::kForgetPrivateLinkKey), this);
    m_forgetKey->setObjectName(QStringLiteral("ForgetPrivateLinkKey"));
    m_forgetKey->setEnabled(false);
    connect(m_forgetKey, &QAction::triggered, this, [this] {
        if (!m_menuNick.isEmpty())
            emit forgetKeyRequested(m_menuNick);
    });
}

void ContactListView::setPopupMenu(QMenu* menu)
{
    m_popup = menu;
    if (!menu)
        return;
    menu->addSeparator();
    menu->addAction(m_encrypt);
    menu->addAction(m_forgetKey);
}

std::optional<QByteArray> ContactListView::selectedContact() const
{
    for (int row = 0; row < count(); ++row) {
        const QListWidgetItem* entry = item(row);
        if (entry->isSelected() && !entry->data(kNotAContactRole).toBool())
            return entry->text().toUtf8();
    }
    return std::nullopt;
}

QListWidgetItem* ContactListView::contactRow(const QByteArray& nick) const
{
    for (int row = 0; row < count(); ++row) {
        QListWidgetItem* entry = item(row);
        if (!entry->data(kNotAContactRole).toBool()
            && irc::sameNick(entry->text().toUtf8(), nick, m_caseMapping))
            return entry;
    }
    return nullptr;
}

bool ContactListView::showsContact(const QByteArray& nick) const
{
    return contactRow(nick) != nullptr;
}

bool ContactListView::selectContact(const QByteArray& nick)
{
    QListWidgetItem* found = contactRow(nick);
    if (!found)
        return false;
    found->setSelected(true);
    return true;
}

void ContactListView::showPopup(const QPoint& position)
{
    // Only over a contact: a click on empty space shows nothing.
    QListWidgetItem* hit = itemAt(position);
    if (!hit || hit->data(kNotAContactRole).toBool() || !m_popup)
        return;
    hit->setSelected(true);
    m_menuNick = hit->text().toUtf8();
    m_forgetKey->setEnabled(m_hasPin && m_hasPin(m_menuNick));
    m_popup->popup(viewport()->mapToGlobal(position));
}

void ContactListView::showSingleItem(const QString& text, const QIcon& icon)
{
    clear();
    auto* row = new QListWidgetItem(icon, text);
    row->setData(kNotAContactRole, true);
    addItem(row);
}

void ContactListView::showHint()
{
    // No icon: it is not a contact, and without one the text has the whole width.
    showSingleItem(QString::fromLatin1(text::kHintText), QIcon());
    item(0)->setData(kHintRole, true);
    fitHintRow();
}

void ContactListView::fitHintRow()
{
    if (count() != 1 || !item(0)->data(kHintRole).toBool())
        return;
    // The delegate keeps this much room on either side of a row's text.
    const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
    const int width = std::max(1, viewport()->width());
    const QRect text = fontMetrics().boundingRect(QRect(0, 0, width - 2 * margin, 1000),
                                                  Qt::TextWordWrap, item(0)->text());
    item(0)->setSizeHint(QSize(width, text.height() + 4));
}

bool ContactListView::viewportEvent(QEvent* event)
{
    if (event->type() != QEvent::ToolTip)
        return QListWidget::viewportEvent(event);
    const auto* help = static_cast<QHelpEvent*>(event);
    const QListWidgetItem* row = itemAt(help->pos());
    const QString tip = row ? row->toolTip() : QString();
    if (tip.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(help->globalPos(), diag::plainTip(tip), viewport(), visualItemRect(row));
    return true;
}

void ContactListView::resizeEvent(QResizeEvent* event)
{
    QListWidget::resizeEvent(event);
    fitHintRow();
}

void ContactListView::showOnline(const QList<QByteArray>& names)
{
    const std::optional<QByteArray> selected = selectedContact();
    if (names.isEmpty()) {
        showSingleItem(QString::fromLatin1(text::kNoneOnline),
                       res::icon(QStringLiteral("NOCONTACTS")));
        return;
    }
    clear();
    for (const QByteArray& name : names) {
        auto* row = new ContactItem(contactIcon(), diag::decodeServerText(name));
        addItem(row);
        showAwayOf(row, name);
        if (selected && irc::sameNick(name, *selected, m_caseMapping))
            row->setSelected(true);
    }
}

void ContactListView::showUnknown(const QList<QByteArray>& contacts)
{
    showGreyed(contacts, QString::fromLatin1(text::kPresenceUnknown));
}

void ContactListView::showLinkDown(const QList<QByteArray>& contacts)
{
    showGreyed(contacts, QString::fromLatin1(text::kPresenceLinkDown));
}

void ContactListView::showGreyed(const QList<QByteArray>& contacts, const QString& unknown)
{
    if (contacts.isEmpty()) {
        showHint();
        return;
    }
    const std::optional<QByteArray> selected = selectedContact();
    clear();
    auto* hint = new ContactItem(res::icon(QStringLiteral("NOCONTACTS")), unknown);
    hint->setData(kNotAContactRole, true);
    hint->setData(kRankRole, 0);
    addItem(hint);
    // Greyed like a disabled entry, yet selectable: a chat or a file can still be offered.
    const QIcon greyed(contactIcon().pixmap(iconSize(), QIcon::Disabled));
    const QBrush dim = palette().brush(QPalette::Disabled, QPalette::Text);
    for (const QByteArray& name : contacts) {
        auto* row = new ContactItem(greyed, diag::decodeServerText(name));
        row->setData(kRankRole, 1);
        row->setForeground(dim);
        row->setToolTip(unknown);
        addItem(row);
        if (selected && irc::sameNick(name, *selected, m_caseMapping))
            row->setSelected(true);
    }
}

void ContactListView::setAway(const QByteArray& nick, const std::optional<QByteArray>& text)
{
    const QByteArray key = irc::foldNick(nick, m_caseMapping);
    if (text && text->isEmpty() && m_away.contains(key))
        return; // a USERHOST reply knows only the fact; the text from AWAY stays
    if (text)
        m_away.insert(key, *text);
    else if (m_away.remove(key) == 0)
        return;
    if (QListWidgetItem* row = contactRow(nick))
        showAwayOf(row, nick);
}

void ContactListView::clearAway()
{
    m_away.clear();
    for (int i = 0; i < count(); ++i) {
        QListWidgetItem* row = item(i);
        if (!row->data(kNotAContactRole).toBool() && !row->data(kHintRole).toBool())
            showAwayOf(row, row->text().toUtf8());
    }
}

void ContactListView::showAwayOf(QListWidgetItem* row, const QByteArray& nick)
{
    const auto away = m_away.constFind(irc::foldNick(nick, m_caseMapping));
    QFont font = row->font();
    if (away == m_away.cend()) {
        row->setIcon(contactIcon());
        row->setToolTip({});
        row->setData(Qt::AccessibleTextRole, {});
        row->setData(Qt::ForegroundRole, {});
        font.setItalic(false);
        row->setFont(font);
        return;
    }
    // Greyed and slanted: there, but not at the keyboard.
    row->setIcon(QIcon(contactIcon().pixmap(iconSize(), QIcon::Disabled)));
    row->setForeground(palette().brush(QPalette::Disabled, QPalette::Text));
    font.setItalic(true);
    row->setFont(font);
    const QString text = diag::escapeControls(diag::decodeServerText(*away));
    // The away text is the network's: shown exactly, never as markup a tooltip would render.
    const QString tip = text.isEmpty() ? tr(text::kAway) : tr(text::kAwayWith).arg(text);
    row->setToolTip(diag::plainTip(tip));
    row->setData(Qt::AccessibleTextRole, tr(text::kAwayName).arg(row->text()));
}

void ContactListView::follow(irc::PresencePoller& presence)
{
    connect(&presence, &irc::PresencePoller::onlineChanged, this, &ContactListView::showOnline);
    connect(&presence, &irc::PresencePoller::noContacts, this, &ContactListView::showHint);
    connect(&presence, &irc::PresencePoller::presenceUnknown, this, &ContactListView::showUnknown);
    connect(&presence, &irc::PresencePoller::linkDown, this, &ContactListView::showLinkDown);
    connect(&presence, &irc::PresencePoller::caseMappingChanged, this,
            &ContactListView::setCaseMapping);
}

} // namespace app
