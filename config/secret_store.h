#pragma once

#include "config/password_keeper.h"
#include "config/store.h"

#include <QHash>
#include <QObject>

#include <functional>
#include <vector>

namespace QKeychain {
class Job;
}

namespace config {

// The server passwords and the keys of relayed chats in the desktop's secret service, with the
// store as the fallback. The service answers asynchronously, so the secrets are read once at start
// into memory; until a secret's answer came, and wherever the service is missing or fails, the
// store's copy counts. A secret leaves the store only after the service confirmed it holds it.
class SecretStore : public QObject, public PasswordKeeper
{
    Q_OBJECT

public:
    // One secret: its key in the service, and the store's copy that stands in for the service's.
    // The functions reach the store alone, never whoever made them: a job may answer after that
    // one is gone, but never after the store.
    struct Secret
    {
        QByteArray name;
        std::function<QByteArray()> stored;           // empty when the store holds none
        std::function<bool(const QByteArray&)> store; // an empty secret drops the store's copy
    };

    explicit SecretStore(Store& store, QObject* parent = nullptr);

    // Whether a secret service is asked at all: not without a session bus (so nothing ever waits
    // on one that cannot answer), nor with KIVVO_NO_KEYCHAIN=1.
    static bool serviceExpected();
    bool isActive() const { return m_active; }

    // Another kind of secret for load() to read, given as the list of those the store knows of;
    // the server passwords are always read.
    void addKind(std::function<std::vector<Secret>()> listed);
    // Reads every secret, moving those the store still holds into the service; loaded() follows
    // once each has its answer (at once when inactive or there are none).
    void load();
    bool isLoaded() const { return m_loading == 0 && m_loadStarted; }
    // Jobs that have not answered yet, of the load and of later changes.
    int pendingJobs() const { return m_pending; }

    QByteArray secret(const Secret& secret) const;
    // The secret counts at once; the service gets it in the background, and the store only when
    // the service refuses it. An empty one goes from both. Inactive, the store alone keeps it.
    bool setSecret(const Secret& secret, const QByteArray& value);

    QByteArray serverPassword(const ServerEntry& server) const override;
    bool setServerPassword(const ServerEntry& server, const QByteArray& password) override;
    // The store drops an entry's password with the entry; the service's copy goes here, for each
    // entry of `before` the store no longer lists, so that one added again starts without.
    void forgetRemoved(const std::vector<ServerEntry>& before);

signals:
    void loaded();
    // Every job has answered.
    void settled();

private:
    Secret passwordOf(const ServerEntry& server) const;
    void moveIn(const Secret& secret, const QByteArray& value);
    void readIn(const Secret& secret);
    void startJob(QKeychain::Job* job, const std::function<void(QKeychain::Job&)>& done);
    void loadAnswered();
    void noteFailure(const QByteArray& name, const QString& error);

    Store& m_store;
    bool m_active = false;
    bool m_loadStarted = false;
    bool m_failureNoted = false;
    int m_loading = 0;
    int m_pending = 0;
    std::vector<std::function<std::vector<Secret>()>> m_kinds;
    // By service key: what the service holds, as far as this run knows.
    QHash<QByteArray, QByteArray> m_cache;
    // By service key: bumped by every change, so that a late answer never undoes a newer one.
    QHash<QByteArray, quint64> m_generation;
};

} // namespace config
