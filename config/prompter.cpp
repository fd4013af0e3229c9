#include "config/prompter.h"

#include "config/input_dialog.h"
#include "config/send_file_dialog.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>

namespace config {

namespace {

// Every label of the box, the informative one included (which would otherwise read markup and
// follow links), shows its text as it is.
void showAsPlainText(QMessageBox& box)
{
    box.setTextFormat(Qt::PlainText);
    for (QLabel* label : box.findChildren<QLabel*>()) {
        label->setTextFormat(Qt::PlainText);
        label->setOpenExternalLinks(false);
    }
}

// A Yes/No box that a stray keystroke cannot answer Yes: it shows without taking the keyboard
// from the window the user types in, Enter and Escape mean No, and Yes has no mnemonic (a
// plain "y" typed into the box would otherwise press it).
bool askCarefully(QMessageBox& box)
{
    box.setAttribute(Qt::WA_ShowWithoutActivating);
    box.button(QMessageBox::Yes)->setText(QCoreApplication::translate("config", "Yes"));
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    box.button(QMessageBox::No)->setFocus();
    showAsPlainText(box);
    return box.exec() == QMessageBox::Yes;
}

} // namespace

std::optional<QString> WidgetPrompter::getInput(QWidget* owner, const InputRequest& request)
{
    InputDialog dialog(request, *this, owner);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.text();
}

void WidgetPrompter::showError(QWidget* owner, const QString& title, const QString& text)
{
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, owner);
    showAsPlainText(box);
    box.exec();
}

void WidgetPrompter::showNotice(QWidget* owner, const QString& title, const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, owner);
    showAsPlainText(box);
    box.exec();
}

bool WidgetPrompter::ask(QWidget* owner, const Question& question)
{
    QMessageBox box(QMessageBox::Question, question.title, question.text,
                    QMessageBox::Yes | QMessageBox::No, owner);
    box.setInformativeText(question.informative);
    return askCarefully(box);
}

bool WidgetPrompter::askWarning(QWidget* owner, const QString& title, const QString& text)
{
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Yes | QMessageBox::No, owner);
    box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    return askCarefully(box);
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
