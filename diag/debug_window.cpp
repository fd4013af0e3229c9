#include "diag/debug_window.h"

#include "diag/secret_mask.h"
#include "diag/server_text.h"
#include "diag/texts.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

namespace diag {

namespace {

// One byte short of a line's content, as typed lines have always been cut here.
constexpr qsizetype kMaxTextBytes = kMaxLineContent - 1;

QPlainTextEdit* makePane(QWidget* parent)
{
    auto* pane = new QPlainTextEdit(parent);
    pane->setReadOnly(true);
    pane->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    return pane;
}

QGroupBox* boxed(const QString& title, QWidget* content, QWidget* parent)
{
    auto* box = new QGroupBox(title, parent);
    auto* layout = new QVBoxLayout(box);
    layout->addWidget(content);
    return box;
}

} // namespace

DebugWindow::DebugWindow(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QString::fromLatin1(text::kDebugTitle));
    setModal(false);

    m_info = makePane(this);
    m_status = makePane(this);
    m_sendBox = new QLineEdit(this);
    auto* sendLabel = new QLabel(QString::fromLatin1(text::kDebugSendLabel), this);
    sendLabel->setBuddy(m_sendBox);
    auto* send = new QPushButton(QString::fromLatin1(text::kSend), this);
    send->setDefault(true);
    auto* ok = new QPushButton(QString::fromLatin1(text::kOk), this);
    ok->setAutoDefault(false);

    auto* sendRow = new QHBoxLayout;
    sendRow->addWidget(sendLabel);
    sendRow->addWidget(m_sendBox, 1);
    sendRow->addWidget(send);

    auto* buttonRow = new QHBoxLayout;
    buttonRow->addStretch(1);
    buttonRow->addWidget(ok);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(boxed(QString::fromLatin1(text::kDebugInfo), m_info, this), 1);
    layout->addWidget(boxed(QString::fromLatin1(text::kDebugStatus), m_status, this), 1);
    layout->addLayout(sendRow);
    layout->addLayout(buttonRow);
    resize(520, 460);

    connect(send, &QPushButton::clicked, this, &DebugWindow::sendLine);
    connect(ok, &QPushButton::clicked, this, &QWidget::hide);
    connect(&DebugPanes::instance(), &DebugPanes::appended, this,
            [this](Pane pane, const QString&) { refresh(pane); });

    refresh(Pane::Info);
    refresh(Pane::Status);
    m_sendBox->setFocus();
}

void DebugWindow::sendLine()
{
    const QByteArray line =
        diag::cutUtf8(m_sendBox->text().toUtf8(), kMaxTextBytes).toByteArray() + "\r\n";
    if (!m_sender || !m_sender(line)) {
        DebugLog(QString::fromLatin1(text::kSendError));
        return;
    }
    // Logged with its CR LF, as the old program did, so an empty line sets each command apart.
    DebugLog(QString::fromUtf8(maskSecrets(line)));
}

void DebugWindow::reject()
{
    // Escape must not lose the window while a developer is typing commands into it.
}

void DebugWindow::refresh(Pane pane)
{
    // The pane is bounded to a few thousand characters, so rebuilding it costs next to nothing
    // and keeps the view exactly in step with the lines the log dropped.
    QPlainTextEdit* view = pane == Pane::Info ? m_info : m_status;
    QString text = DebugPanes::instance().text(pane);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    view->setPlainText(text);
    view->moveCursor(QTextCursor::End);
    view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum());
}

} // namespace diag
