#include "peer/transfer/part_file.h"

#include <QCoreApplication>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace peer {

namespace {

constexpr mode_t kPrivateMode = S_IRUSR | S_IWUSR;

// The mode a file made now gets: rw-rw-rw- less the umask. /proc tells the umask without
// changing it; umask(2) can only read it by setting it, and a file another thread makes
// meanwhile would get the wrong mode.
mode_t ordinaryFileMode()
{
    mode_t mask = S_IWGRP | S_IWOTH;
    if (FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        unsigned value = 0;
        while (std::fgets(line, sizeof line, status)) {
            if (std::sscanf(line, "Umask: %o", &value) == 1) {
                mask = mode_t(value);
                break;
            }
        }
        std::fclose(status);
    }
    return (S_IRUSR | S_IWUSR | S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH) & ~mask;
}

QString systemError(int error)
{
    return qt_error_string(error);
}

} // namespace

PartFile::PartFile(const QString& destination)
    : m_destination(destination)
    , m_path(partPath(destination))
{}

QString PartFile::partPath(const QString& destination)
{
    return destination + QStringLiteral(".part");
}

std::optional<PartFile::Failure> PartFile::refuseUnlessRegular(const QString& path) const
{
    struct stat info
    {};
    if (::lstat(QFile::encodeName(path).constData(), &info) == 0 && !S_ISREG(info.st_mode))
        return Failure{TransferError::DestinationNotAFile, path};
    return std::nullopt;
}

int PartFile::create()
{
    const QByteArray name = QFile::encodeName(m_path);
    // O_EXCL with O_NOFOLLOW: a link planted under the part's name is never written through.
    constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::open(name.constData(), kFlags, kPrivateMode);
    if (fd < 0 && errno == EEXIST) {
        // A part the user chose not to resume goes; whatever else holds the name stays.
        struct stat info
        {};
        if (::lstat(name.constData(), &info) == 0 && S_ISREG(info.st_mode)
            && ::unlink(name.constData()) == 0)
            fd = ::open(name.constData(), kFlags, kPrivateMode);
        else
            errno = EEXIST;
    }
    return fd;
}

std::optional<PartFile::Failure> PartFile::open(quint64 start)
{
    if (auto refused = refuseUnlessRegular(m_destination))
        return refused;
    // O_NONBLOCK: a pipe put under the part's name must not hang the open.
    const int fd = start == 0 ? create()
                              : ::open(QFile::encodeName(m_path).constData(),
                                       O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (auto refused = refuseUnlessRegular(m_path))
            return refused;
        return Failure{TransferError::DestinationFailed, systemError(error)};
    }
    struct stat info
    {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return Failure{TransferError::DestinationNotAFile, m_path};
    }
    if (start > 0) {
        // Only what was received before is kept: anything past it is not known to be the
        // sender's. A part made by an older run becomes private again until it is whole.
        if (quint64(info.st_size) < start || ::ftruncate(fd, off_t(start)) != 0
            || ::fchmod(fd, kPrivateMode) != 0
            || ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
            ::close(fd);
            return Failure{TransferError::DestinationFailed,
                           QCoreApplication::translate("peer", "the part is shorter than before")};
        }
    }
    // Unbuffered, so that a full disk shows at the write that failed, before it is acknowledged.
    if (!m_file.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)
        || !m_file.seek(qint64(start))) {
        const QString why = m_file.errorString();
        m_file.close();
        return Failure{TransferError::DestinationFailed, why};
    }
    return std::nullopt;
}

bool PartFile::write(const char* data, qint64 size)
{
    return m_file.write(data, size) == size;
}

std::optional<PartFile::Failure> PartFile::complete()
{
    if (auto refused = refuseUnlessRegular(m_destination)) {
        close();
        return refused;
    }
    // Whole now: an ordinary file like any other the user saves.
    const int fd = m_file.handle();
    if (fd >= 0)
        ::fchmod(fd, ordinaryFileMode());
    // The user agreed to replace what stood under the name when choosing it. rename(2) does
    // it in one step: never a moment without the file, and a failure leaves the old one.
    if (::rename(QFile::encodeName(m_path).constData(),
                 QFile::encodeName(m_destination).constData())
        != 0) {
        const int error = errno;
        if (fd >= 0)
            ::fchmod(fd, kPrivateMode);
        m_file.close();
        m_kept = true;
        return Failure{TransferError::RenameFailed,
                       QStringLiteral("%1: %2").arg(m_destination, systemError(error))};
    }
    m_file.close();
    return std::nullopt;
}

void PartFile::close()
{
    if (!m_file.isOpen())
        return;
    struct stat held
    {};
    const bool empty = ::fstat(m_file.handle(), &held) == 0 && held.st_size == 0;
    m_file.close();
    m_kept = !empty;
    if (!empty)
        return;
    // Only the file we held: another one put under the name meanwhile is not ours to remove.
    const QByteArray name = QFile::encodeName(m_path);
    struct stat named
    {};
    if (::lstat(name.constData(), &named) == 0 && named.st_dev == held.st_dev
        && named.st_ino == held.st_ino)
        ::unlink(name.constData());
}

} // namespace peer
