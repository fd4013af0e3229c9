#pragma once

#include <QByteArray>
#include <QFile>
#include <QRandomGenerator>
#include <QString>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace test {

// Writes `data` as the file `name` in `dir`; its path.
inline QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& data)
{
    QFile file(dir.filePath(name));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(data);
    return file.fileName();
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

// The whole file at `path`, or "<missing>" when there is none to read.
inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// The permission bits of `path` itself (a symlink is not followed); -1 when it is missing.
inline int modeOf(const QString& path)
{
    struct stat info
    {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777)
                                                                    : -1;
}

} // namespace test
