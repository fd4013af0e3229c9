#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <optional>

namespace test {

// An environment variable set or unset for as long as the guard lives, then put back as it was.
class EnvGuard
{
public:
    explicit EnvGuard(const char* name)
        : m_name(name)
    {
        if (qEnvironmentVariableIsSet(name))
            m_old = qgetenv(name);
    }
    EnvGuard(const char* name, const QByteArray& value)
        : EnvGuard(name)
    {
        set(value.constData());
    }
    ~EnvGuard() { set(m_old ? m_old->constData() : nullptr); }
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;

    // Null unsets it.
    void set(const char* value) { value ? qputenv(m_name, value) : qunsetenv(m_name); }

private:
    const char* m_name;
    std::optional<QByteArray> m_old;
};

} // namespace test
