#include "config/prompter.h"

#include "config/input_dialog.h"
#include "config/send_file_dialog.h"

#include <QFileDialog>
#include <QMessageBox>

namespace config {

std::optional<QString> WidgetPrompter::getInput(QWidget* owner, const InputRequest& request)
{
    InputDialog dialog(request, *this, owner);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.text();
}

void WidgetPrompter::showError(QWidget* owner, const QString& title, const QString& text)
{
    QMessageBox::warning(owner, title, text);
}

void WidgetPrompter::showNotice(QWidget* owner, const QString& title, const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, owner);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool WidgetPrompter::ask(QWidget* owner, const QString& title, const QString& text)
{
    return QMessageBox::question(owner, title, text, QMessageBox::Yes | QMessageBox::No)
           == QMessageBox::Yes;
}

bool WidgetPrompter::askWarning(QWidget* owner, const QString& title, const QString& text)
{
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Yes | QMessageBox::No, owner);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    return box.exec() == QMessageBox::Yes;
}

std::optional<QString> WidgetPrompter::browseForFile(QWidget* owner)
{
    // The pattern "*.*" would hide every file without a dot in its name here, so the filter
    // matches "*" and hides that detail, leaving the familiar name on show.
    const QString path = QFileDialog::getOpenFileName(
        owner, QString(), QString(), QStringLiteral("All Files (*.*) (*)"), nullptr,
        QFileDialog::ReadOnly | QFileDialog::HideNameFilterDetails);
    if (path.isEmpty())
        return std::nullopt;
    return path;
}

std::optional<FileToSend> WidgetPrompter::askFileToSend(QWidget* owner, const QString& nick)
{
    SendFileDialog dialog(nick, *this, owner);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.fileToSend();
}

} // namespace config
