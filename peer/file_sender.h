#pragma once

#include "peer/transfer.h"
#include "peer/transfer_core.h"

#include <QFile>
#include <QList>
#include <QPointer>

#include <optional>

class QTcpServer;
class QTcpSocket;

namespace peer {

// The sending side of a DCC SEND: listens for the peer, then sends the file in blocks of 1024
// bytes, each after the whole previous one is acknowledged, or with fast send streams up to
// a window ahead of the acknowledgements. Ends when the acknowledgement reaches the size.
class FileSender : public Transfer
{
    Q_OBJECT

public:
    FileSender(const QByteArray& peerNick, const QString& path, bool fastSend,
               QObject* parent = nullptr);
    ~FileSender() override;

    // Opens the file; false when it cannot be read.
    bool open();
    // Listens on the first of `ports` that can be bound; the port, or nothing.
    std::optional<quint16> listen(const QList<quint16>& ports);

private:
    void accept();
    void readAcks();
    void fill();
    void release() override;

    QFile m_file;
    SendWindow m_window;
    AckReader m_acks;
    QByteArray m_buffer; // one piece of the file at a time, reused
    bool m_fast;
    QPointer<QTcpServer> m_server;
    QPointer<QTcpSocket> m_socket;
};

} // namespace peer
