#include "diag/raw_data_window.h"

#include "diag/texts.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>

namespace diag {

namespace {

// The document counts one paragraph separator more than the plain text holds.
int plainLength(const QPlainTextEdit* edit)
{
    return edit->document()->characterCount() - 1;
}

} // namespace

RawDataWindow::RawDataWindow(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QString::fromLatin1(text::kRawTitle));
    setModal(false);

    m_data = new QPlainTextEdit(this);
    m_data->setTabChangesFocus(true);
    auto* send = new QPushButton(QString::fromLatin1(text::kSend), this);
    send->setAutoDefault(false);
    m_appendNewline = new QCheckBox(QString::fromLatin1(text::kRawAppendNewline), this);
    m_appendNewline->setChecked(false);
    auto* close = new QPushButton(QString::fromLatin1(text::kClose), this);
    close->setDefault(true);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(send);
    buttons->addWidget(m_appendNewline, 1);
    buttons->addWidget(close);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_data, 1);
    layout->addLayout(buttons);
    resize(460, 300);

    connect(send, &QPushButton::clicked, this, &RawDataWindow::sendData);
    connect(close, &QPushButton::clicked, this, &QWidget::hide);
    connect(m_data, &QPlainTextEdit::textChanged, this, [this] {
        // Trimming changes the text again; the guard stops that second round at once.
        if (m_trimming || plainLength(m_data) <= kMaxChars)
            return;
        m_trimming = true;
        QTextCursor cursor(m_data->document());
        // Joined to the edit that overflowed, so one undo takes back both.
        cursor.joinPreviousEditBlock();
        cursor.setPosition(kMaxChars);
        cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
        cursor.endEditBlock();
        m_trimming = false;
    });
}

void RawDataWindow::sendData()
{
    if (!m_sender)
        return;
    // Line breaks typed in the box end IRC lines, so several commands can go in one send.
    QString text = m_data->toPlainText();
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    if (m_appendNewline->isChecked())
        text += QStringLiteral("\r\n");
    m_sender(text.toUtf8());
}

} // namespace diag
