#pragma once

#include "peer/transfer.h"
#include "peer/transfer_core.h"

#include <QFile>
#include <QHostAddress>
#include <QPointer>

class QTcpSocket;

namespace peer {

// The receiving side of a DCC SEND: connects to the offer, stores what arrives (never more
// than the offered size), and acknowledges once per read with the total kept. Ends when the
// count reaches the size; a sender that closes early leaves the part received.
class FileReceiver : public Transfer
{
    Q_OBJECT

public:
    FileReceiver(const QByteArray& peerNick, const QString& path, quint64 size,
                 QObject* parent = nullptr);
    ~FileReceiver() override;

    // Creates the destination afresh; false when it cannot be written.
    bool open();
    void connectTo(const QHostAddress& address, quint16 port);

private:
    void readData();
    void peerClosed();
    void release() override;

    QFile m_file;
    ReceiveCount m_count;
    QByteArray m_buffer; // one read at a time, reused
    QPointer<QTcpSocket> m_socket;
};

} // namespace peer
