#pragma once

#include <QByteArray>
#include <QTemporaryDir>
#include <QtGlobal>

namespace test {

// XDG_DATA_HOME and XDG_DATA_DIRS pointed at an empty folder for as long as it lives: no package
// has installed any artwork, so what is not in the installation folder is the program's own.
class NoSharedArtwork
{
public:
    NoSharedArtwork()
        : m_home(qgetenv("XDG_DATA_HOME"))
        , m_dirs(qgetenv("XDG_DATA_DIRS"))
    {
        qputenv("XDG_DATA_HOME", m_empty.path().toLocal8Bit());
        qputenv("XDG_DATA_DIRS", m_empty.path().toLocal8Bit());
    }
    ~NoSharedArtwork()
    {
        restore("XDG_DATA_HOME", m_home);
        restore("XDG_DATA_DIRS", m_dirs);
    }
    NoSharedArtwork(const NoSharedArtwork&) = delete;
    NoSharedArtwork& operator=(const NoSharedArtwork&) = delete;

private:
    static void restore(const char* name, const QByteArray& value)
    {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }

    QTemporaryDir m_empty;
    QByteArray m_home;
    QByteArray m_dirs;
};

} // namespace test
