#include "config/secret_store.h"

#include "config/errors.h"
#include "config/registry.h"
#include "config/session_bus.h"
#include "diag/debug_log.h"

#include <QSet>
#include <qt6keychain/keychain.h>

namespace config {

namespace {

constexpr char kService[] = "org.kivvo.Kivvo";

// Store names compare without regard to case, and so must the service's keys.
QByteArray keyOf(const ServerEntry& server)
{
    return serverValueName(server).toLower();
}

// Without a parent: a job deletes itself once answered, and one still waiting when its keeper
// goes must outlive it, since the service's library calls back into the job.
template <typename JobType> JobType* makeJob(const QByteArray& name)
{
    auto* job = new JobType(QString::fromLatin1(kService));
    job->setAutoDelete(true);
    // Passwords stay out of plain files even when the service is missing: the store is the
    // fallback, not a file of QtKeychain's own.
    job->setInsecureFallback(false);
    job->setKey(QString::fromUtf8(name));
    return job;
}

} // namespace

SecretStore::SecretStore(Store& store, QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_active(serviceExpected())
{}

bool SecretStore::serviceExpected()
{
    return hasSessionBusAddress() && qgetenv("KIVVO_NO_KEYCHAIN") != "1";
}

void SecretStore::load()
{
    m_loadStarted = true;
    const std::vector<ServerEntry> servers =
        m_active ? m_store.EnumServers() : std::vector<ServerEntry>();
    m_loading = int(servers.size());
    if (m_loading == 0) {
        emit loaded();
        return;
    }
    for (const ServerEntry& server : servers) {
        const QByteArray inStore = m_store.serverPassword(server);
        if (inStore.isEmpty())
            readIn(server);
        else
            moveIn(server, inStore);
    }
}

void SecretStore::readIn(const ServerEntry& server)
{
    const QByteArray name = keyOf(server);
    const quint64 generation = m_generation.value(name);
    auto* job = makeJob<QKeychain::ReadPasswordJob>(name);
    startJob(job, [this, name, generation](QKeychain::Job& done) {
        if (m_generation.value(name) == generation) {
            if (done.error() == QKeychain::NoError)
                m_cache.insert(name, static_cast<QKeychain::ReadPasswordJob&>(done).binaryData());
            else if (done.error() != QKeychain::EntryNotFound)
                noteFailure(name, done.errorString());
        }
        loadAnswered();
    });
}

void SecretStore::moveIn(const ServerEntry& server, const QByteArray& password)
{
    const QByteArray name = keyOf(server);
    const quint64 generation = m_generation.value(name);
    auto* job = makeJob<QKeychain::WritePasswordJob>(name);
    job->setBinaryData(password);
    startJob(job, [this, server, name, password, generation](QKeychain::Job& done) {
        if (m_generation.value(name) == generation) {
            if (done.error() == QKeychain::NoError) {
                m_cache.insert(name, password);
                // A read-only store keeps its copy; the service's counts all the same.
                m_store.setServerPassword(server, {});
            } else {
                noteFailure(name, done.errorString());
            }
        }
        loadAnswered();
    });
}

QByteArray SecretStore::serverPassword(const ServerEntry& server) const
{
    if (m_active) {
        const auto cached = m_cache.constFind(keyOf(server));
        if (cached != m_cache.constEnd())
            return *cached;
    }
    return m_store.serverPassword(server);
}

bool SecretStore::setServerPassword(const ServerEntry& server, const QByteArray& password)
{
    if (!m_active)
        return m_store.setServerPassword(server, password);
    if (server.address.isEmpty() || password.size() >= kSettingsFieldSize)
        return false;
    const QByteArray name = keyOf(server);
    const quint64 generation = ++m_generation[name];
    m_cache.insert(name, password);
    if (password.isEmpty()) {
        auto* job = makeJob<QKeychain::DeletePasswordJob>(name);
        startJob(job, [this, name](QKeychain::Job& done) {
            if (done.error() != QKeychain::NoError && done.error() != QKeychain::EntryNotFound)
                noteFailure(name, done.errorString());
        });
        return m_store.setServerPassword(server, {});
    }
    auto* job = makeJob<QKeychain::WritePasswordJob>(name);
    job->setBinaryData(password);
    startJob(job, [this, server, name, password, generation](QKeychain::Job& done) {
        if (m_generation.value(name) != generation)
            return;
        if (done.error() == QKeychain::NoError) {
            // An older copy the service refused once goes now that it holds the new one.
            if (!m_store.serverPassword(server).isEmpty())
                m_store.setServerPassword(server, {});
            return;
        }
        noteFailure(name, done.errorString());
        m_cache.remove(name);
        if (!m_store.setServerPassword(server, password))
            diag::DebugLog(errorText(Error::SaveFailed, m_store.registry().path()));
    });
    return true;
}

void SecretStore::forgetRemoved(const std::vector<ServerEntry>& before)
{
    if (!m_active)
        return;
    QSet<QByteArray> listed;
    for (const ServerEntry& server : m_store.EnumServers())
        listed.insert(keyOf(server));
    for (const ServerEntry& server : before) {
        if (!listed.contains(keyOf(server)))
            setServerPassword(server, {});
    }
}

void SecretStore::startJob(QKeychain::Job* job, const std::function<void(QKeychain::Job&)>& done)
{
    ++m_pending;
    connect(job, &QKeychain::Job::finished, this, [this, done](QKeychain::Job* finished) {
        done(*finished);
        if (--m_pending == 0)
            emit settled();
    });
    job->start();
}

void SecretStore::loadAnswered()
{
    if (--m_loading == 0)
        emit loaded();
}

void SecretStore::noteFailure(const QByteArray& name, const QString& error)
{
    // Once: a missing or locked service fails every entry the same way.
    if (m_failureNoted)
        return;
    m_failureNoted = true;
    diag::DebugLog(QStringLiteral("The desktop's secret service failed for the server password "
                                  "of %1 (%2); Kivvo's own store keeps the passwords it holds.")
                       .arg(QString::fromUtf8(name), error));
}

} // namespace config
