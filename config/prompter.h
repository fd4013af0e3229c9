#pragma once

#include "config/input_request.h"

#include <QString>

#include <optional>

class QWidget;

class QDialog;
class QMessageBox;

namespace config {

// Every label of `box`, the informative one included (which would otherwise read markup and
// follow links), shows its text as it is; for every box whose text may come from the network.
void showAsPlainText(QMessageBox& box);

// Shows `box` beside the window the user types in, never taking the keyboard from it: not modal
// (a window manager hands the keyboard to a modal box, and Qt asks it to), and mapped with
// _NET_WM_USER_TIME 0, which tells every EWMH window manager not to focus it. For every box
// that the network brings up.
void showWithoutTakingKeyboard(QDialog& box);

// What the "Send a File" dialog was closed with.
struct FileToSend
{
    QString nick;
    QString path;

    bool operator==(const FileToSend& o) const { return nick == o.nick && path == o.path; }
    bool operator!=(const FileToSend& o) const { return !(*this == o); }
};

// A Yes/No question: `text` asks it, and `informative` (shown beside it, when there is one)
// gives what the user needs to judge it, such as where an offer would connect.
struct Question
{
    QString title;
    QString text;
    QString informative = {};
};

// Every question, input and error box the program puts to the user goes through here, so that
// logic can be driven without a screen and the real program shows the dialogs.
class Prompter
{
public:
    virtual ~Prompter() = default;

    // The input dialog: the text entered, or nothing when the user cancelled.
    virtual std::optional<QString> getInput(QWidget* owner, const InputRequest& request) = 0;
    // An OK box with the exclamation icon.
    virtual void showError(QWidget* owner, const QString& title, const QString& text) = 0;
    // A plain OK box, without an icon: something the user should know, not a fault.
    virtual void showNotice(QWidget* owner, const QString& title, const QString& text) = 0;
    // A Yes/No question; true for Yes. Each one so far is about something a stranger offers,
    // so No is the default answer and the box waits beside the window the user types in.
    virtual bool ask(QWidget* owner, const Question& question) = 0;
    bool ask(QWidget* owner, const QString& title, const QString& text)
    {
        return ask(owner, Question{title, text, {}});
    }
    // A Yes/No question about a risk (trusting a certificate): the warning icon, No as the
    // default answer, the text selectable so that a fingerprint can be copied; true for Yes.
    virtual bool askWarning(QWidget* owner, const QString& title, const QString& text)
    {
        return ask(owner, Question{title, text, {}});
    }
    // A Yes/No question about what the user just asked for (Exit while a transfer runs): it
    // answers the user's own command, so the box comes up with the keyboard; No is the default,
    // so that Enter keeps what runs. True for Yes.
    virtual bool confirm(QWidget* owner, const Question& question) { return ask(owner, question); }
    // The file-open dialog: the chosen file's full path, or nothing when cancelled.
    virtual std::optional<QString> browseForFile(QWidget* owner) = 0;
    // The "Send a File" dialog, its nick field filled with `nick`: both fields, or nothing when
    // the user cancelled.
    virtual std::optional<FileToSend> askFileToSend(QWidget* owner, const QString& nick) = 0;
};

// The real dialogs. Their texts are plain text, never markup: they carry nicks, file names and
// paths from the network, and markup such as <img src=...> would make Qt read files.
class WidgetPrompter : public Prompter
{
public:
    using Prompter::ask;

    std::optional<QString> getInput(QWidget* owner, const InputRequest& request) override;
    void showError(QWidget* owner, const QString& title, const QString& text) override;
    void showNotice(QWidget* owner, const QString& title, const QString& text) override;
    bool ask(QWidget* owner, const Question& question) override;
    bool askWarning(QWidget* owner, const QString& title, const QString& text) override;
    bool confirm(QWidget* owner, const Question& question) override;
    std::optional<QString> browseForFile(QWidget* owner) override;
    std::optional<FileToSend> askFileToSend(QWidget* owner, const QString& nick) override;
};

} // namespace config
