#include "config/secret_store.h"

#include "config/errors.h"
#include "config/registry.h"
#include "config/session_bus.h"
#include "config/texts.h"
#include "diag/debug_log.h"

#include <QSet>
#include <qt6keychain/keychain.h>

#include <utility>

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

void SecretStore::addKind(std::function<std::vector<Secret>()> listed)
{
    m_kinds.push_back(std::move(listed));
}

void SecretStore::load()
{
    m_loadStarted = true;
    std::vector<Secret> secrets;
    if (m_active) {
        for (const ServerEntry& server : m_store.EnumServers())
            secrets.push_back(passwordOf(server));
        for (const auto& listed : m_kinds) {
            for (Secret& secret : listed())
                secrets.push_back(std::move(secret));
        }
    }
    m_loading = int(secrets.size());
    if (m_loading == 0) {
        emit loaded();
        return;
    }
    for (const Secret& secret : secrets) {
        const QByteArray inStore = secret.stored();
        if (inStore.isEmpty())
            readIn(secret);
        else
            moveIn(secret, inStore);
    }
}

void SecretStore::readIn(const Secret& secret)
{
    const QByteArray name = secret.name;
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

void SecretStore::moveIn(const Secret& secret, const QByteArray& value)
{
    const quint64 generation = m_generation.value(secret.name);
    auto* job = makeJob<QKeychain::WritePasswordJob>(secret.name);
    job->setBinaryData(value);
    startJob(job, [this, secret, value, generation](QKeychain::Job& done) {
        if (m_generation.value(secret.name) == generation) {
            if (done.error() == QKeychain::NoError) {
                m_cache.insert(secret.name, value);
                // A read-only store keeps its copy; the service's counts all the same.
                secret.store({});
            } else {
                noteFailure(secret.name, done.errorString());
            }
        }
        loadAnswered();
    });
}

QByteArray SecretStore::secret(const Secret& secret) const
{
    if (m_active) {
        const auto cached = m_cache.constFind(secret.name);
        if (cached != m_cache.constEnd())
            return *cached;
    }
    return secret.stored();
}

bool SecretStore::setSecret(const Secret& secret, const QByteArray& value)
{
    if (!m_active)
        return secret.store(value);
    const QByteArray name = secret.name;
    const quint64 generation = ++m_generation[name];
    m_cache.insert(name, value);
    if (value.isEmpty()) {
        auto* job = makeJob<QKeychain::DeletePasswordJob>(name);
        startJob(job, [this, name](QKeychain::Job& done) {
            if (done.error() != QKeychain::NoError && done.error() != QKeychain::EntryNotFound)
                noteFailure(name, done.errorString());
        });
        return secret.store({});
    }
    auto* job = makeJob<QKeychain::WritePasswordJob>(name);
    job->setBinaryData(value);
    startJob(job, [this, secret, value, generation](QKeychain::Job& done) {
        if (m_generation.value(secret.name) != generation)
            return;
        if (done.error() == QKeychain::NoError) {
            // An older copy the service refused once goes now that it holds the new one.
            if (!secret.stored().isEmpty())
                secret.store({});
            return;
        }
        noteFailure(secret.name, done.errorString());
        m_cache.remove(secret.name);
        if (!secret.store(value))
            diag::DebugLog(errorText(Error::SaveFailed, m_store.registry().path()));
    });
    return true;
}

SecretStore::Secret SecretStore::passwordOf(const ServerEntry& server) const
{
    Store& store = m_store;
    return {keyOf(server), [&store, server] { return store.serverPassword(server); },
            [&store, server](const QByteArray& password) {
                return store.setServerPassword(server, password);
            }};
}

QByteArray SecretStore::serverPassword(const ServerEntry& server) const
{
    return secret(passwordOf(server));
}

bool SecretStore::setServerPassword(const ServerEntry& server, const QByteArray& password)
{
    if (!m_active)
        return m_store.setServerPassword(server, password);
    if (server.address.isEmpty() || password.size() >= kSettingsFieldSize)
        return false;
    return setSecret(passwordOf(server), password);
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
    diag::DebugLog(
        QString::fromLatin1(text::kSecretServiceFailed).arg(QString::fromUtf8(name), error));
}

} // namespace config
