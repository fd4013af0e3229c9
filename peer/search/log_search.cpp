#include "peer/search/log_search.h"

#include "diag/debug_log.h"
#include "peer/chat/chat_log.h"

#include <QElapsedTimer>
#include <QFileInfo>

namespace peer {

// Lives on the index's thread and holds the index there; everything reaches it as a posted call.
class LogIndexWorker : public QObject
{
public:
    // Bytes of logs read in one transaction: small enough that a search waits little behind it.
    static constexpr qint64 kStep = 1 << 20;
    // A first catching up this long is worth saying in the debug window, start and end.
    static constexpr qint64 kAnnounced = 1 << 20;

    LogIndexWorker(const QString& path, LogSearch* front,
                   std::shared_ptr<std::atomic<quint64>> latest)
        : m_index(path)
        , m_front(front)
        , m_latest(std::move(latest))
    {}

    void setFolder(const std::optional<QString>& folder)
    {
        m_queue.clear();
        m_fresh.clear();
        m_folder = folder;
        if (!folder)
            return;
        if (!m_index.open(*folder)) {
            emit m_front->unavailable(m_index.error());
            return;
        }
        for (const QString& name : m_index.logNames())
            m_queue.append(name);
        const auto [total, indexed] = m_index.extent();
        m_total = total;
        m_done = std::min(indexed, total);
        m_started = m_done;
        m_clock.start();
        m_announced = m_total - m_done >= kAnnounced;
        if (m_announced)
            diag::DebugLog(QStringLiteral("Indexing the chat logs for searching: %1 of %2 KiB "
                                          "to read, in the background")
                               .arg((m_total - m_done) / 1024)
                               .arg(m_total / 1024));
        emit m_front->progressed(m_done, m_total);
        schedule();
    }

    void touched(const QString& name)
    {
        if (!m_index.isOpen() || m_fresh.contains(name))
            return;
        m_fresh.append(name);
        schedule();
    }

    void find(quint64 ticket, const SearchText& search, const std::optional<QString>& log)
    {
        // Only the newest search is answered: the user has typed on since the others.
        if (ticket != m_latest->load())
            return;
        // What was said before the search was asked is found by it.
        while (!m_fresh.isEmpty())
            catchUp(m_fresh);
        const std::vector<LogHit> hits = m_index.find(search, log, LogSearch::kMaxHits);
        emit m_front->found(ticket, QList<LogHit>(hits.begin(), hits.end()));
    }

private:
    void schedule()
    {
        if (std::exchange(m_scheduled, true))
            return;
        QMetaObject::invokeMethod(
            this, [this] { step(); }, Qt::QueuedConnection);
    }

    // One step of the first log in `queue`, which leaves it once caught up with.
    void catchUp(QStringList& queue)
    {
        const QString name = queue.first();
        const std::optional<qint64> left = m_index.catchUp(name, kStep);
        if (!left || *left == 0)
            queue.removeFirst();
        if (!left)
            diag::DebugLog(QStringLiteral("The search index could not take the log %1: %2")
                               .arg(name, m_index.error()));
    }

    void step()
    {
        m_scheduled = false;
        // What is being said goes before what was said long ago.
        if (!m_fresh.isEmpty())
            catchUp(m_fresh);
        else if (!m_queue.isEmpty())
            catchUp(m_queue);
        if (m_done < m_total) {
            const auto [total, indexed] = m_index.extent();
            m_done = std::min(indexed, total);
            m_total = m_queue.isEmpty() ? m_done : total;
            emit m_front->progressed(m_done, m_total);
            if (m_done == m_total && std::exchange(m_announced, false))
                diag::DebugLog(QStringLiteral("The chat logs are indexed: %1 KiB in %2 s")
                                   .arg((m_done - m_started) / 1024)
                                   .arg(double(m_clock.elapsed()) / 1000, 0, 'f', 1));
        }
        if (!m_queue.isEmpty() || !m_fresh.isEmpty())
            schedule();
    }

    LogIndex m_index;
    LogSearch* m_front;
    std::shared_ptr<std::atomic<quint64>> m_latest;
    std::optional<QString> m_folder;
    // The logs to catch up with from the start, and those written to since.
    QStringList m_queue;
    QStringList m_fresh;
    bool m_scheduled = false;
    qint64 m_done = 0;
    qint64 m_total = 0;
    qint64 m_started = 0;
    QElapsedTimer m_clock;
    bool m_announced = false;
};

LogSearch::LogSearch(const QString& indexPath, QObject* parent)
    : QObject(parent)
{
    qRegisterMetaType<QList<peer::LogHit>>();
    m_thread.setObjectName(QStringLiteral("log index"));
    m_worker = new LogIndexWorker(indexPath, this, m_latest);
    m_worker->moveToThread(&m_thread);
    connect(this, &LogSearch::progressed, this,
            [this](qint64 done, qint64 total) { m_catchingUp = done < total; });
    connect(this, &LogSearch::unavailable, this, [this](const QString& why) {
        m_unavailable = why;
        m_catchingUp = false;
        diag::DebugLog(QStringLiteral("The chat logs cannot be searched: %1").arg(why));
    });
    m_thread.start(QThread::LowPriority);
}

LogSearch::~LogSearch()
{
    m_thread.quit();
    m_thread.wait();
    delete m_worker;
}

void LogSearch::setLogsFolder(const std::optional<QString>& folder)
{
    if (folder == m_folder)
        return;
    m_folder = folder;
    m_catchingUp = folder.has_value();
    QMetaObject::invokeMethod(m_worker, [worker = m_worker, folder] { worker->setFolder(folder); });
}

void LogSearch::logWritten(const QString& path)
{
    const QFileInfo file(path);
    if (!m_folder || file.absolutePath() != QFileInfo(*m_folder).absoluteFilePath())
        return;
    QMetaObject::invokeMethod(
        m_worker, [worker = m_worker, name = file.fileName()] { worker->touched(name); });
}

quint64 LogSearch::find(const QString& typed, const std::optional<QByteArray>& nick)
{
    const quint64 ticket = ++*m_latest;
    std::optional<QString> log;
    if (nick) {
        // The log's own name, as the chats name it.
        const std::optional<QString> path = ChatLog::logFilePath(QStringLiteral("."), *nick);
        if (!path)
            return ticket;
        log = QFileInfo(*path).fileName();
    }
    QMetaObject::invokeMethod(m_worker,
                              [worker = m_worker, ticket, search = SearchText::from(typed), log] {
                                  worker->find(ticket, search, log);
                              });
    return ticket;
}

} // namespace peer
