#pragma once

#include "peer/search/log_index.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QThread>

#include <atomic>
#include <memory>
#include <optional>

namespace peer {

class LogIndexWorker;

// The chat logs' index as the program uses it: everything it does runs on a thread of its own,
// so no window ever waits for it. It catches up with every log when the logs folder is set
// (the first run indexes them all, saying how far it got), follows each log as it is written,
// and answers searches, the newest first; a search overtaken by a newer one is not answered.
class LogSearch : public QObject
{
    Q_OBJECT

public:
    static constexpr int kMaxHits = 200;

    // The index file at `indexPath`.
    explicit LogSearch(const QString& indexPath, QObject* parent = nullptr);
    ~LogSearch() override;

    // Where the logs are; none (logging off, no install folder): nothing new is indexed.
    void setLogsFolder(const std::optional<QString>& folder);
    // A log was written to.
    void logWritten(const QString& path);
    // Looks for `typed` in every log, or in the log of `nick` alone; the answer comes by
    // found() with the number returned here.
    quint64 find(const QString& typed, const std::optional<QByteArray>& nick = std::nullopt);
    // Whether the first catching up is still going on, and how far it got, in bytes.
    bool catchingUp() const { return m_catchingUp; }
    // Why the index cannot be had, once it was found so.
    const QString& unavailability() const { return m_unavailable; }

signals:
    void found(quint64 ticket, const QList<peer::LogHit>& hits);
    // The catching up read `done` of `total` bytes; done == total once it is over.
    void progressed(qint64 done, qint64 total);
    // The index cannot be had (`why`); searches find nothing.
    void unavailable(const QString& why);

private:
    QThread m_thread;
    LogIndexWorker* m_worker = nullptr;
    std::shared_ptr<std::atomic<quint64>> m_latest = std::make_shared<std::atomic<quint64>>(0);
    std::optional<QString> m_folder;
    bool m_catchingUp = false;
    QString m_unavailable;
};

} // namespace peer

Q_DECLARE_METATYPE(peer::LogHit)
