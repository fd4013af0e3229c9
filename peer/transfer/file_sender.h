#pragma once

#include "peer/transfer/transfer.h"
#include "peer/transfer/transfer_core.h"

#include <QFile>
#include <QHostAddress>
#include <QList>
#include <QPointer>

#include <optional>

class QTcpSocket;

namespace peer {

class ChatHost;

// The sending side of a DCC SEND: listens for the peer (or, passive, waits for the peer's answer
// and connects to it), then sends the file in blocks of 1024 bytes, each after the whole
// previous one is acknowledged, or with fast send streams as far ahead of the acknowledgements
// as the kernel's send buffer holds. Ends when the acknowledgement reaches the size.
class FileSender : public Transfer
{
    Q_OBJECT

public:
    FileSender(const QByteArray& peerNick, const QString& path, bool fastSend,
               QObject* parent = nullptr);
    ~FileSender() override;

    // Opens the file; false when it cannot be read.
    bool open();
    // Our offer to the server: we listen, or, passive, the peer listens and answers with our
    // token within the listening time.
    std::optional<DccEndpoint::Failure> offer(ChatHost& host, bool passive);
    // Listens on the first of `ports` that can be bound, with no offer; the port, or nothing.
    std::optional<quint16> listen(const QList<quint16>& ports);
    const QByteArray& token() const { return endpoint().ours().token; }
    // Our offer as answers and resumes are matched against it: open while it waits for the peer.
    OurOffer ours() const;
    bool answeredBy(const irc::DccOffer& answer, const NickRule& nicks) const
    {
        return answersOffer(ours(), answer, nicks);
    }
    // The peer asked to resume at `position`; false (nothing changes) once the transfer has
    // begun or when the position lies past the end of the file.
    bool resumeAt(quint64 position);
    // The peer answered our passive offer from `address`:`port`.
    void connectTo(const QHostAddress& address, quint16 port);

private:
    void accept(QTcpSocket* socket);
    void attach(QTcpSocket* socket);
    void begin();
    void release() override;
    QString expiredText(std::chrono::milliseconds waited) const override;

    QFile m_file;
    SendWindow m_window; // where the data starts; the pump keeps its own from there
    bool m_fast;
    QPointer<QTcpSocket> m_socket;
};

} // namespace peer
