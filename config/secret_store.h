#pragma once

#include "config/password_keeper.h"
#include "config/store.h"

#include <QHash>
#include <QObject>

#include <functional>

namespace QKeychain {
class Job;
}

namespace config {

// The server passwords in the desktop's secret service, with the store as the fallback. The
// service answers asynchronously, so the passwords are read once at start into memory; until an
// entry's answer came, and wherever the service is missing or fails, the store's copy counts. A
// password leaves the store only after the service confirmed it holds it.
class SecretStore : public QObject, public PasswordKeeper
{
    Q_OBJECT

public:
    explicit SecretStore(Store& store, QObject* parent = nullptr);

    // Whether a secret service is asked at all: not without a session bus (so nothing ever waits
    // on one that cannot answer), nor with KIVVO_NO_KEYCHAIN=1.
    static bool serviceExpected();
    bool isActive() const { return m_active; }

    // Reads the password of every entry, moving those the store still holds into the service;
    // loaded() follows once each entry has its answer (at once when inactive or the list is
    // empty).
    void load();
    bool isLoaded() const { return m_loading == 0 && m_loadStarted; }
    // Jobs that have not answered yet, of the load and of later changes.
    int pendingJobs() const { return m_pending; }

    QByteArray serverPassword(const ServerEntry& server) const override;
    // The password counts at once; the service gets it in the background, and the store only
    // when the service refuses it.
    bool setServerPassword(const ServerEntry& server, const QByteArray& password) override;
    // The store drops an entry's password with the entry; the service's copy goes here, for each
    // entry of `before` the store no longer lists, so that one added again starts without.
    void forgetRemoved(const std::vector<ServerEntry>& before);

signals:
    void loaded();
    // Every job has answered.
    void settled();

private:
    void moveIn(const ServerEntry& server, const QByteArray& password);
    void readIn(const ServerEntry& server);
    void startJob(QKeychain::Job* job, const std::function<void(QKeychain::Job&)>& done);
    void loadAnswered();
    void noteFailure(const QByteArray& name, const QString& error);

    Store& m_store;
    bool m_active = false;
    bool m_loadStarted = false;
    bool m_failureNoted = false;
    int m_loading = 0;
    int m_pending = 0;
    // By entry name: what the service holds, as far as this run knows.
    QHash<QByteArray, QByteArray> m_cache;
    // By entry name: bumped by every change, so that a late answer never undoes a newer one.
    QHash<QByteArray, quint64> m_generation;
};

} // namespace config
