#include "config/send_file_dialog.h"

#include "config/texts.h"

#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace config {

SendFileDialog::SendFileDialog(const QString& nick, Prompter& prompter, QWidget* parent)
    : QDialog(parent)
    , m_prompter(prompter)
{
    setWindowTitle(tr(text::kSendAFile));
    setModal(true);
    // Neither field is cut: a nick cut short names somebody else, a path cut short another
    // file.
    m_nick = new QLineEdit(this);
    m_nick->setText(nick);
    m_path = new QLineEdit(this);
    auto* nickLabel = new QLabel(tr(text::kNicknameToSendTo), this);
    nickLabel->setBuddy(m_nick);
    auto* pathLabel = new QLabel(tr(text::kFileToSend), this);
    pathLabel->setBuddy(m_path);
    m_browse = new QPushButton(tr(text::kBrowseEllipsis), this);
    m_ok = new QPushButton(tr(text::kOk), this);
    m_ok->setDefault(true);
    m_cancel = new QPushButton(tr(text::kCancel), this);

    auto* fields = new QGridLayout;
    fields->addWidget(nickLabel, 0, 0);
    fields->addWidget(m_nick, 0, 1, 1, 2);
    fields->addWidget(pathLabel, 1, 0);
    fields->addWidget(m_path, 1, 1);
    fields->addWidget(m_browse, 1, 2);
    fields->setColumnMinimumWidth(1, 240);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addLayout(buttons);

    connect(m_ok, &QPushButton::clicked, this, &SendFileDialog::accept);
    connect(m_cancel, &QPushButton::clicked, this, &SendFileDialog::reject);
    connect(m_browse, &QPushButton::clicked, this, &SendFileDialog::browse);
    // The nick usually comes from the selected contact, so the file is what is left to give.
    if (nick.isEmpty())
        m_nick->setFocus();
    else
        m_path->setFocus();
}

FileToSend SendFileDialog::fileToSend() const
{
    return {m_nick->text(), m_path->text()};
}

void SendFileDialog::accept()
{
    if (m_nick->text().isEmpty() || m_path->text().isEmpty()) {
        m_prompter.showError(this, tr(text::kError), tr(text::kFillEachField));
        return;
    }
    // Refused here, while the path can still be mended, rather than after the dialog is gone.
    const QString path = m_path->text();
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
        m_prompter.showError(this, tr(text::kError), tr(text::kCannotOpenPath).arg(path));
        m_path->setFocus();
        return;
    }
    QDialog::accept();
}

void SendFileDialog::browse()
{
    const std::optional<QString> path = m_prompter.browseForFile(this);
    if (path)
        m_path->setText(*path);
}

} // namespace config
