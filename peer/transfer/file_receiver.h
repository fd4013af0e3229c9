#pragma once

#include "peer/transfer/part_file.h"
#include "peer/transfer/transfer.h"
#include "peer/transfer/transfer_core.h"

#include <QHostAddress>
#include <QList>
#include <QPointer>
#include <QTimer>

#include <optional>

class QTcpSocket;

namespace peer {

class ChatHost;

// The receiving side of a DCC SEND: connects to the offer (or, for a passive one, listens for
// the sender), stores what arrives in "<name>.part" (never more than the offered size), and
// acknowledges once per read with the total kept. Complete, the part takes the file's name; a
// sender that closes early leaves the part, to be resumed later.
class FileReceiver : public Transfer
{
    Q_OBJECT

public:
    // How long the sender has to agree to a resume.
    static constexpr int kResumeWaitMs = 60'000;

    FileReceiver(const QByteArray& peerNick, const QString& path, quint64 size,
                 QObject* parent = nullptr);
    ~FileReceiver() override;

    // Where the data goes until it is whole.
    static QString partPath(const QString& path) { return PartFile::partPath(path); }

    // Opens the part file: afresh, or, to resume, keeping its first `start` bytes. False (and
    // openFailure() says why) when it cannot be written, holds fewer than `start` bytes, or the
    // destination or the part is not a regular file.
    bool open(quint64 start = 0);
    const std::optional<PartFile::Failure>& openFailure() const { return m_openFailure; }
    QString keptPart() const override;
    void connectTo(const QHostAddress& address, quint16 port);
    // A passive offer: we listen for the sender, and our answer tells it where.
    std::optional<DccEndpoint::Failure> answer(ChatHost& host, const irc::DccOffer& offer);
    // We asked the sender to resume: it has kResumeWaitMs to agree (resumeAccepted()).
    void awaitResume();
    void resumeAccepted();

private:
    void accept(QTcpSocket* socket);
    void attach(QTcpSocket* socket);
    void begin();
    void peerClosed();
    void finishFile();
    void dataComplete() override { finishFile(); }
    void release() override;

    PartFile m_file;
    std::optional<PartFile::Failure> m_openFailure;
    ReceiveCount m_count; // where the data starts; the pump keeps its own from there
    QTimer m_resumeWait;
    QPointer<QTcpSocket> m_socket;
};

} // namespace peer
