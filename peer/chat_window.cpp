#include "peer/chat_window.h"

#include "diag/server_text.h"
#include "peer/session_record.h"

#include <QCloseEvent>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace peer {

ChatWindow::ChatWindow(ChatSession& session, QWidget* parent)
    : QDialog(parent)
    , m_session(session)
{
    setWindowTitle(diag::decodeServerText(session.nick));
    auto* layout = new QVBoxLayout(this);
    m_view = new QPlainTextEdit(this);
    m_view->setReadOnly(true);
    layout->addWidget(m_view);
    resize(400, 300);
    setAttribute(Qt::WA_DeleteOnClose);
}

void ChatWindow::appendPeerLine(const QByteArray& text)
{
    m_view->appendPlainText(diag::decodeServerText("<" + m_session.nick + "> " + text));
}

void ChatWindow::appendOwnLine(const QByteArray& ownNick, const QByteArray& text)
{
    m_view->appendPlainText(diag::decodeServerText("<" + ownNick + "> " + text));
}

QString ChatWindow::transcript() const
{
    return m_view->toPlainText();
}

void ChatWindow::closeEvent(QCloseEvent* event)
{
    // The record stays; only server text stops coming here, so a new line opens a new window.
    m_session.serverRouted = false;
    emit closedByUser();
    event->accept();
}

} // namespace peer
