#include "peer/search/chat_search.h"

#include "peer/chat/chat_sessions.h"
#include "peer/chat/chat_window.h"
#include "peer/search/find_window.h"
#include "peer/search/log_search.h"

#include <QLineEdit>
#include <QShortcut>

namespace peer {

ChatSearch::ChatSearch(LogSearch& search, ChatSessions& chats, QObject* parent)
    : QObject(parent)
    , m_search(search)
    , m_chats(chats)
{}

ChatSearch::~ChatSearch()
{
    delete m_window.data();
}

void ChatSearch::follow()
{
    connect(&m_chats, &ChatSessions::logWritten, &m_search, &LogSearch::logWritten);
    connect(&m_chats, &ChatSessions::windowOpened, this, [this](ChatWindow* window) {
        auto* find = new QShortcut(QKeySequence::Find, window);
        connect(find, &QShortcut::activated, this,
                [this, window] { open(window->session().nick); });
    });
    connect(&m_search, &LogSearch::found, this, [this](quint64 ticket, const QList<LogHit>& hits) {
        if (m_window && ticket == m_ticket)
            m_window->showHits(hits);
    });
    connect(&m_search, &LogSearch::progressed, this, [this](qint64 done, qint64 total) {
        if (m_window)
            m_window->showProgress(done, total);
    });
    connect(&m_search, &LogSearch::unavailable, this, [this](const QString& why) {
        if (m_window)
            m_window->showUnavailable(why);
    });
}

FindWindow* ChatSearch::open(const std::optional<QByteArray>& nick)
{
    if (!m_window) {
        // Without an owner, as the chat windows: it lives beside them.
        m_window = new FindWindow;
        m_window->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_window, &FindWindow::searchAsked, this,
                [this](const QString& text) { m_ticket = m_search.find(text, m_window->scope()); });
        connect(m_window, &FindWindow::lineChosen, &m_chats, &ChatSessions::showLogged);
        if (m_search.catchingUp())
            m_window->showProgress(0, 1);
        if (!m_search.unavailability().isEmpty())
            m_window->showUnavailable(m_search.unavailability());
    }
    m_window->setScope(nick);
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
    m_window->input()->setFocus();
    m_window->input()->selectAll();
    return m_window;
}

} // namespace peer

namespace peer {

FindWindow* ChatSearch::window() const
{
    return m_window;
}

} // namespace peer
