#pragma once

#include "irc/dcc_offer.h"
#include "peer/texts.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <memory>
#include <vector>

namespace peer {

class ChatHost;
class Transfer;
class TransferWindow;

// Every file transfer of the run, each with its window. A transfer goes when its window is
// dismissed; at the end windows go first, then the transfers with their sockets and files.
class Transfers : public QObject
{
    Q_OBJECT

public:
    explicit Transfers(ChatHost& host, QObject* parent = nullptr);
    ~Transfers() override;
    Transfers(const Transfers&) = delete;
    Transfers& operator=(const Transfers&) = delete;

    // Windows of transfers are owned by this widget (the main window).
    void setWindowOwner(QWidget* owner) { m_owner = owner; }
    void setFastSend(bool on) { m_fastSend = on; }

    // Offers the file at `path` to `nick` and opens its window; false (and failed()) when the
    // file cannot be read or no offer could go out.
    bool offerFile(const QByteArray& nick, const QString& path);
    // Takes up an accepted offer into `path`, written fresh; false (and failed()) when the
    // destination cannot be written.
    bool receive(const irc::DccOffer& offer, const QString& path);

    int count() const { return int(m_entries.size()); }
    Transfer* at(int index) const;
    TransferWindow* windowOf(const Transfer* transfer) const;

    // Windows first, then the transfers.
    void closeAll();

signals:
    void failed(peer::TransferError error);
    // A file went all the way, either way.
    void transferCompleted(const QByteArray& peer, const QString& fileName);

private:
    struct Entry
    {
        std::unique_ptr<Transfer> transfer;
        QPointer<TransferWindow> window;
    };

    void add(std::unique_ptr<Transfer> transfer);
    void remove(const Transfer* transfer);

    ChatHost& m_host;
    QPointer<QWidget> m_owner;
    bool m_fastSend = false;
    std::vector<Entry> m_entries;
};

} // namespace peer
