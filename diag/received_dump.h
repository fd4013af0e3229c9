#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <utility>

namespace diag {

// The received-data dump: each batch of server lines appended to a file (out.txt in the current
// folder) when the program runs with "DEBUG". Without it each batch only creates the file when
// it is missing; nothing ever truncates it. It is created 0600, and never written through a
// symlink at its name.
class ReceivedDump
{
public:
    ReceivedDump(QString path, bool enabled)
        : m_path(std::move(path))
        , m_enabled(enabled)
    {}

    // `lines` are the complete lines of one read, without their CR LF.
    void DumpReceivedLines(const QList<QByteArrayView>& lines);

    bool isEnabled() const { return m_enabled; }

private:
    QString m_path;
    bool m_enabled = false;
};

} // namespace diag
