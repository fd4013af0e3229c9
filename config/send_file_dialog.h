#pragma once

#include "config/prompter.h"

#include <QDialog>

class QLineEdit;
class QPushButton;

namespace config {

// "SENDFILE": whom to send to and which file. OK with either field empty, or with a path that
// names no file we can read, is refused with a message and the dialog stays open; the error box
// and the file picker go through the prompter.
class SendFileDialog : public QDialog
{
    Q_OBJECT

public:
    SendFileDialog(const QString& nick, Prompter& prompter, QWidget* parent = nullptr);

    FileToSend fileToSend() const;
    QLineEdit* nickEdit() const { return m_nick; }
    QLineEdit* pathEdit() const { return m_path; }
    QPushButton* okButton() const { return m_ok; }
    QPushButton* cancelButton() const { return m_cancel; }
    QPushButton* browseButton() const { return m_browse; }

public slots:
    void accept() override;

private:
    void browse();

    Prompter& m_prompter;
    QLineEdit* m_nick = nullptr;
    QLineEdit* m_path = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
    QPushButton* m_browse = nullptr;
};

} // namespace config
