#include "app/contact_list_view.h"

#include "diag/server_text.h"
#include "res/resources.h"

#include <QIcon>
#include <QMenu>
#include <QPixmap>

namespace app {

namespace {

// Marks the hint and "No Contacts Online" rows, which are not contacts.
constexpr int kNotAContactRole = Qt::UserRole + 1;

// Sorted as people read names, without regard to case.
class ContactItem : public QListWidgetItem
{
public:
    using QListWidgetItem::QListWidgetItem;
    bool operator<(const QListWidgetItem& other) const override
    {
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
    setSortingEnabled(true);
    sortItems(Qt::AscendingOrder);
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, &ContactListView::showPopup);
    connect(this, &QListWidget::itemDoubleClicked, this, [this] {
        if (const auto nick = selectedContact())
            emit chatRequested(*nick);
    });
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

bool ContactListView::showsContact(const QByteArray& nick) const
{
    return !findItems(diag::decodeServerText(nick), Qt::MatchExactly).isEmpty();
}

bool ContactListView::selectContact(const QByteArray& nick)
{
    const auto found = findItems(diag::decodeServerText(nick), Qt::MatchExactly);
    if (found.isEmpty())
        return false;
    found.front()->setSelected(true);
    return true;
}

void ContactListView::showPopup(const QPoint& position)
{
    // Only over a contact: a click on empty space shows nothing.
    QListWidgetItem* hit = itemAt(position);
    if (!hit || hit->data(kNotAContactRole).toBool() || !m_popup)
        return;
    hit->setSelected(true);
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
    showSingleItem(QString::fromLatin1(kHintText), contactIcon());
}

void ContactListView::showOnline(const QList<QByteArray>& names)
{
    const std::optional<QByteArray> selected = selectedContact();
    if (names.isEmpty()) {
        showSingleItem(QString::fromLatin1(kNoneOnline), res::icon(QStringLiteral("NOCONTACTS")));
        return;
    }
    clear();
    for (const QByteArray& name : names) {
        auto* row = new ContactItem(contactIcon(), diag::decodeServerText(name));
        addItem(row);
        if (selected && name == *selected)
            row->setSelected(true);
    }
}

} // namespace app
