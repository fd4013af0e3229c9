#include "config/contact_editor.h"

#include "config/contact_name.h"
#include "config/errors.h"
#include "config/prompter.h"
#include "config/registry.h"
#include "config/selected_text.h"
#include "config/store.h"
#include "config/texts.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace config {

ContactEditor::ContactEditor(Store& store, Prompter& prompter, QWidget* parent, int longestName)
    : QDialog(parent)
    , m_store(store)
    , m_prompter(prompter)
    , m_longestName(longestName)
{
    setWindowTitle(tr(text::kEditContacts));
    m_list = new QListWidget(this);
    m_list->setViewMode(QListView::ListMode);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_add = new QPushButton(tr(text::kAddEllipsis), this);
    m_rename = new QPushButton(tr(text::kRenameEllipsis), this);
    m_remove = new QPushButton(tr(text::kRemoveEllipsis), this);
    m_ok = new QPushButton(tr(text::kOk), this);
    m_ok->setDefault(true);

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(m_add);
    buttons->addWidget(m_rename);
    buttons->addWidget(m_remove);
    buttons->addStretch();
    buttons->addWidget(m_ok);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(m_list);
    layout->addLayout(buttons);

    connect(m_add, &QPushButton::clicked, this, &ContactEditor::add);
    connect(m_rename, &QPushButton::clicked, this, &ContactEditor::rename);
    connect(m_remove, &QPushButton::clicked, this, &ContactEditor::remove);
    connect(m_ok, &QPushButton::clicked, this, &ContactEditor::accept);
    refresh();
}

void ContactEditor::reject()
{}

void ContactEditor::refresh()
{
    m_list->clear();
    for (const QByteArray& nick : m_store.EnumContacts())
        m_list->addItem(QString::fromUtf8(nick));
}

void ContactEditor::postRefresh()
{
    QTimer::singleShot(0, this, &ContactEditor::refresh);
}

void ContactEditor::reportUnsaved(bool saved)
{
    if (!saved) {
        m_prompter.showError(this, errorTitle(),
                             errorText(Error::SaveFailed, m_store.registry().path()));
    }
}

std::optional<QString> ContactEditor::askName(const QString& prompt, const QString& title,
                                              const QString& initial)
{
    InputRequest request{prompt, title, initial, false};
    while (auto name = m_prompter.getInput(this, request)) {
        const auto error = contactNameError(*name, m_longestName);
        if (!error)
            return name;
        m_prompter.showError(this, tr(text::kError), *error);
        // Offer the refused name again, so a typo costs one key, not the whole name.
        request.text = *name;
    }
    return std::nullopt;
}

std::optional<QString> ContactEditor::selectedName()
{
    auto name = GetSelectedListText(*m_list, kContactNameSize);
    if (!name)
        m_prompter.showError(this, tr(text::kError), tr(text::kNoContactSelected));
    return name;
}

// The store lists only the first kMaxContacts, so one more would be stored but never shown,
// neither here nor in the main window. A name already listed takes no room.
bool ContactEditor::hasRoomFor(const QByteArray& nick) const
{
    const QList<QByteArray> listed = m_store.EnumContacts();
    if (listed.size() < kMaxContacts)
        return true;
    // Names compare without case in the store.
    for (const QByteArray& name : listed) {
        if (name.compare(nick, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

void ContactEditor::reportFull()
{
    m_prompter.showError(this, tr(text::kError), contactListFullText());
}

void ContactEditor::add()
{
    // Said before asking, so that nobody types a name only to have it refused.
    if (!hasRoomFor(QByteArray())) {
        reportFull();
        return;
    }
    if (const auto name =
            askName(tr(text::kAddContactPrompt), tr(text::kAddNewContact), QString())) {
        // Asked again: another copy of the program may have filled the list meanwhile.
        if (hasRoomFor(name->toUtf8()))
            reportUnsaved(m_store.AddContact(name->toUtf8()));
        else
            reportFull();
    }
    postRefresh();
}

void ContactEditor::rename()
{
    const auto old = selectedName();
    if (!old)
        return;
    if (const auto name = askName(tr(text::kRenameContactPrompt), tr(text::kEditContact), *old)) {
        // One transaction: an addition that fails must not leave the old name removed.
        reportUnsaved(m_store.registry().transact([&] {
            return m_store.RemoveContact(old->toUtf8()) && m_store.AddContact(name->toUtf8());
        }));
    }
    postRefresh();
}

void ContactEditor::remove()
{
    const auto name = selectedName();
    if (!name)
        return;
    reportUnsaved(m_store.RemoveContact(name->toUtf8()));
    postRefresh();
}

} // namespace config
