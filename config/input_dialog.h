#pragma once

#include "config/input_request.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace config {

class Prompter;

// "GETINPUT": a prompt, one edit box, OK, Cancel and an optional "Browse..." button. OK with an
// empty box is refused with a message and the dialog stays open.
class InputDialog : public QDialog
{
    Q_OBJECT

public:
    // The least width of the box for a path (a request for kPathTextLimit characters).
    static constexpr int kPathBoxWidth = 420;

    InputDialog(const InputRequest& request, Prompter& prompter, QWidget* parent = nullptr);

    QString text() const;
    QLineEdit* edit() const { return m_edit; }
    QPushButton* okButton() const { return m_ok; }
    QPushButton* cancelButton() const { return m_cancel; }
    QPushButton* browseButton() const { return m_browse; }

public slots:
    void accept() override;

private:
    void browse();
    void widenForPath(const QString& path);

    Prompter& m_prompter;
    QLabel* m_prompt = nullptr;
    QLineEdit* m_edit = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
    QPushButton* m_browse = nullptr;
};

} // namespace config
