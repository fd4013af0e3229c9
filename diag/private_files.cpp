#include "diag/private_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace diag {

namespace {

constexpr mode_t kPrivateFolder = 0700;
constexpr mode_t kPrivateFile = 0600;

// Opens `path` with `flags`, creating it with exactly `kPrivateFile` when missing: the umask may
// take bits away at creation, and fchmod then sets the mode the file is meant to have.
int openPrivate(const QString& path, int flags)
{
    const QByteArray name = QFile::encodeName(path);
    flags |= O_NOFOLLOW | O_CLOEXEC;
    int fd = ::open(name.constData(), flags | O_CREAT | O_EXCL, kPrivateFile);
    if (fd >= 0) {
        ::fchmod(fd, kPrivateFile);
        return fd;
    }
    if (errno != EEXIST)
        return -1;
    // There already: opened as it is, or refused when it is a symlink (ELOOP).
    fd = ::open(name.constData(), flags);
    return fd;
}

} // namespace

bool makePrivateFolder(const QString& path)
{
    const QString folder = QDir::cleanPath(QDir(path).absolutePath());
    QStringList missing;
    for (QString at = folder; !QFileInfo(at).exists();) {
        missing.prepend(at);
        const QString parent = QFileInfo(at).absolutePath();
        if (parent == at)
            break;
        at = parent;
    }
    for (const QString& each : missing) {
        const QByteArray name = QFile::encodeName(each);
        if (::mkdir(name.constData(), kPrivateFolder) == 0)
            ::chmod(name.constData(), kPrivateFolder);
        else if (errno != EEXIST) // another copy of the program may just have made it
            return false;
    }
    return QFileInfo(folder).isDir();
}

int openPrivateForAppend(const QString& path)
{
    return openPrivate(path, O_WRONLY | O_APPEND);
}

bool createPrivateFile(const QString& path)
{
    if (QFileInfo(path).exists())
        return true;
    const int fd = openPrivate(path, O_WRONLY);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

void keepPrivate(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat info = {};
    if (::lstat(name.constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return;
    const mode_t mode = info.st_mode & 07777;
    if ((mode & 077) != 0)
        ::chmod(name.constData(), mode & 0700);
}

} // namespace diag
