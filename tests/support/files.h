#pragma once

#include "tests/support/file_bytes.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QString>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

namespace test {

// Writes `data` as the file `name` in `dir`; its path.
inline QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& data)
{
    const QString path = dir.filePath(name);
    EXPECT_TRUE(writeTo(path, data)) << path.toStdString();
    return path;
}

// `size` bytes of noise, the same for the same seed.
inline QByteArray randomBytes(qsizetype size, quint32 seed = 7)
{
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    for (char& byte : data)
        byte = char(generator.generate());
    return data;
}

// Equal bytes, or where they part; never the megabytes themselves.
inline ::testing::AssertionResult sameBytes(const QByteArray& expected, const QString& path)
{
    if (!QFile::exists(path))
        return ::testing::AssertionFailure() << path.toStdString() << " is missing";
    const QByteArray actual = readFile(path);
    if (actual == expected)
        return ::testing::AssertionSuccess();
    qsizetype at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at])
        ++at;
    return ::testing::AssertionFailure()
           << path.toStdString() << " holds " << actual.size() << " bytes instead of "
           << expected.size() << ", the first difference at byte " << at;
}

// The permission bits of `path` itself (a symlink is not followed); -1 when it is missing.
inline int modeOf(const QString& path)
{
    struct stat info
    {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777)
                                                                    : -1;
}

// Files may grow to `bytes` and no further while it lasts, as on a full disk: a write past it
// fails (EFBIG) instead of ending the process.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(qsizetype bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{rlim_t(bytes), m_saved.rlim_max};
        EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_handler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_saved{};
    void (*m_handler)(int) = nullptr;
};

} // namespace test
