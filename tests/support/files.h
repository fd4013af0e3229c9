#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace test {

// Writes `data` as the file `name` in `dir`; its path.
inline QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& data)
{
    QFile file(dir.filePath(name));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(data);
    return file.fileName();
}

// The whole file at `path`, or "<missing>" when there is none to read.
inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

} // namespace test
