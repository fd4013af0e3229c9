#pragma once

#include "peer/common/texts.h"

#include <QFile>
#include <QString>

#include <optional>

namespace peer {

// The file a received transfer is written to until it is whole, "<destination>.part": made
// afresh (never through a link, readable by the user alone) or reopened to resume, and once
// complete moved over the destination in one rename, so that the name always holds either the
// old file or the whole new one.
class PartFile
{
public:
    struct Failure
    {
        TransferError error;
        QString detail;
    };

    explicit PartFile(const QString& destination);

    static QString partPath(const QString& destination);
    const QString& path() const { return m_path; }

    // Afresh (`start` 0), or to resume keeping the first `start` bytes of the part there.
    // Nothing when it is open for writing; a destination or part that is not a regular file
    // (a folder, a link, a device, a pipe) is refused.
    std::optional<Failure> open(quint64 start);
    // Stores all of `data`, or fails (errorString() says why).
    bool write(const char* data, qint64 size);
    QString errorString() const { return m_file.errorString(); }
    // Closes the part, gives it the mode a new file gets here, and renames it over the
    // destination.
    std::optional<Failure> complete();
    // Closes the part; one that holds nothing is removed, since there is nothing to resume.
    void close();
    // Whether close() left a part that holds something.
    bool isKept() const { return m_kept; }

private:
    std::optional<Failure> refuseUnlessRegular(const QString& path) const;
    int create();

    QString m_destination;
    QString m_path;
    QFile m_file;
    bool m_kept = false;
};

} // namespace peer
