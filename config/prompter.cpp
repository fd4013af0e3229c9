#include "config/prompter.h"

#include "config/input_dialog.h"
#include "config/send_file_dialog.h"
#include "config/texts.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>

#include <algorithm>
#include <memory>

namespace config {

namespace {

// A box that comes up centred over the window it is asked for. Qt centres a dialog before its
// first show has laid it out, so a box that grows then (every box whose texts are set after it
// is made) stood off centre, down and right, or pushed against the screen's edge.
class CentredBox : public QMessageBox
{
public:
    using QMessageBox::QMessageBox;

protected:
    void showEvent(QShowEvent* event) override
    {
        QMessageBox::showEvent(event);
        const QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr;
        if (!owner || !owner->isVisible() || !owner->screen())
            return;
        const QRect area = owner->screen()->availableGeometry();
        const QRect over = owner->frameGeometry();
        const QSize size = frameGeometry().size().expandedTo(this->size());
        QPoint at =
            over.topLeft()
            + QPoint((over.width() - size.width()) / 2, (over.height() - size.height()) / 2);
        at.setX(std::max(area.left(), std::min(at.x(), area.left() + area.width() - size.width())));
        at.setY(std::max(area.top(), std::min(at.y(), area.top() + area.height() - size.height())));
        move(at);
    }
};

// A Yes/No box that a stray keystroke cannot answer Yes: Enter and Escape mean No, and Yes has
// no mnemonic (a plain "y" typed into the box would otherwise press it). It never takes the
// keyboard from the window the user types in, and it waits for its answer in a loop of its own,
// so that every other window takes input meanwhile. The answer counts once the user turns to
// the box; a box whose owner went away is answered No.
bool askCarefully(std::unique_ptr<QMessageBox> made)
{
    const QPointer<QMessageBox> box = made.release();
    box->button(QMessageBox::Yes)->setText(QCoreApplication::translate("config", text::kYes));
    box->setDefaultButton(QMessageBox::No);
    box->setEscapeButton(QMessageBox::No);
    box->button(QMessageBox::No)->setFocus();
    showAsPlainText(*box);
    QEventLoop answered;
    QObject::connect(box, &QDialog::finished, &answered, &QEventLoop::quit);
    QObject::connect(box, &QObject::destroyed, &answered, &QEventLoop::quit);
    showWithoutTakingKeyboard(*box);
    answered.exec();
    const bool yes = box && box->result() == QMessageBox::Yes;
    delete box.data();
    return yes;
}

} // namespace

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

void showWithoutTakingKeyboard(QDialog& box)
{
    box.setWindowModality(Qt::NonModal);
    // Qt reads it when it makes the native window, and then maps that with a user time of 0.
    box.setAttribute(Qt::WA_ShowWithoutActivating);
    box.show();
}

std::optional<QString> WidgetPrompter::getInput(QWidget* owner, const InputRequest& request)
{
    InputDialog dialog(request, *this, owner);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.text();
}

void WidgetPrompter::showError(QWidget* owner, const QString& title, const QString& text)
{
    CentredBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, owner);
    showAsPlainText(box);
    box.exec();
}

void WidgetPrompter::showNotice(QWidget* owner, const QString& title, const QString& text)
{
    CentredBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, owner);
    showAsPlainText(box);
    box.exec();
}

bool WidgetPrompter::ask(QWidget* owner, const Question& question)
{
    auto box = std::make_unique<CentredBox>(QMessageBox::Question, question.title, question.text,
                                            QMessageBox::Yes | QMessageBox::No, owner);
    box->setInformativeText(question.informative);
    return askCarefully(std::move(box));
}

bool WidgetPrompter::askWarning(QWidget* owner, const QString& title, const QString& text)
{
    auto box = std::make_unique<CentredBox>(QMessageBox::Warning, title, text,
                                            QMessageBox::Yes | QMessageBox::No, owner);
    box->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    return askCarefully(std::move(box));
}

bool WidgetPrompter::confirm(QWidget* owner, const Question& question)
{
    CentredBox box(QMessageBox::Question, question.title, question.text,
                   QMessageBox::Yes | QMessageBox::No, owner);
    box.setInformativeText(question.informative);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    showAsPlainText(box);
    return box.exec() == QMessageBox::Yes;
}

std::optional<QString> WidgetPrompter::browseForFile(QWidget* owner)
{
    // The pattern "*.*" would hide every file without a dot in its name here, so the filter
    // matches "*" and hides that detail, leaving the familiar name on show. It opens in the
    // home folder: the folder the program was started from is seldom where a user keeps files.
    const QString path = QFileDialog::getOpenFileName(
        owner, QString(), QDir::homePath(), QString::fromLatin1(text::kAllFilesFilter), nullptr,
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
