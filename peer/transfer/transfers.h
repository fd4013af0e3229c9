#pragma once

#include "irc/dcc_offer.h"
#include "peer/common/texts.h"
#include "peer/common/window_placer.h"
#include "peer/transfer/transfer_thread.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <memory>
#include <optional>
#include <vector>

namespace irc {
class LineRouter;
class ServerEvents;
class ServerLink;
} // namespace irc

namespace peer {

class ChatHost;
class FileReceiver;
class FileSender;
class Transfer;
class TransferWindow;

// Every file transfer of the run, each with its window. A transfer goes when its window is
// dismissed; at the end windows go first, then the transfers with their sockets and files.
class Transfers : public QObject
{
    Q_OBJECT

public:
    // Takes the RESUME and ACCEPT answers the server brings.
    void follow(irc::ServerEvents& events);
    explicit Transfers(ChatHost& host, QObject* parent = nullptr);
    ~Transfers() override;
    Transfers(const Transfers&) = delete;
    Transfers& operator=(const Transfers&) = delete;

    // Windows of transfers are owned by this widget (the main window).
    void setWindowOwner(QWidget* owner) { m_owner = owner; }
    void setPlacer(std::shared_ptr<WindowPlacer> placer) { m_placer = std::move(placer); }
    void setFastSend(bool on) { m_fastSend = on; }

    // Offers the file at `path` to `nick` and opens its window near `near` (the chat it was
    // sent from; the owner when null): passive and private as the host says. False (and
    // failed()) when the file cannot be read or no offer could go out.
    bool offerFile(const QByteArray& nick, const QString& path, const QWidget* near = nullptr);
    // Takes up an accepted offer into `path` (by way of "<path>.part"), afresh or, when
    // `resumeFrom` is not 0, asking the sender to go on from there. False (and failed()) when
    // the destination cannot be written.
    bool receive(const irc::DccOffer& offer, const QString& path, quint64 resumeFrom = 0);
    // Whether `offer` answers a passive offer of ours: the same nick and our token.
    bool answersOurOffer(const irc::DccOffer& offer) const;
    // Connects to the peer that answered our passive offer.
    void takeAnswer(const irc::DccOffer& offer);
    // A DCC RESUME for one of our offers, or a DCC ACCEPT of a resume we asked for; what does not
    // fit is refused with a note in the debug window.
    void takeResume(const irc::DccResume& resume);
    // The peer declined a file offer of ours; a REJECT that names none changes nothing.
    void takeReject(const irc::DccReject& reject);

    int count() const { return int(m_entries.size()); }
    Transfer* at(int index) const;
    TransferWindow* windowOf(const Transfer* transfer) const;

    // Windows first, then the transfers.
    void closeAll();

signals:
    void failed(peer::TransferError error, const QString& detail = {});
    // A file went all the way, either way.
    void transferCompleted(const QByteArray& peer, const QString& fileName);
    // A transfer ended before its end, not by the user's hand; `keptPart` names the part file
    // that holds what was received, when there is one.
    void transferStoppedShort(const QByteArray& peer, const QString& fileName,
                              const QString& keptPart);

private:
    struct Entry
    {
        std::unique_ptr<Transfer> transfer;
        QPointer<TransferWindow> window;
        FileSender* sender = nullptr;     // our offer, or
        FileReceiver* receiver = nullptr; // the peer's, taken up
        irc::DccOffer offer;              // receiving: the offer as it came
        quint64 resumeFrom = 0;           // receiving: the position asked to resume at
        bool awaitingAccept = false;
    };

    Entry& add(std::unique_ptr<Transfer> transfer, const QWidget* near = nullptr);
    void remove(const Transfer* transfer);
    // Connects to the sender's offer, or, for a passive one, listens and answers it.
    void startReceiving(Entry& entry);
    void resumeOurOffer(const irc::DccResume& resume);
    FileSender* waitingForAnswer(const irc::DccOffer& offer) const;
    void acceptedResume(const irc::DccResume& resume);

    ChatHost& m_host;
    QPointer<QWidget> m_owner;
    std::shared_ptr<WindowPlacer> m_placer = std::make_shared<WindowPlacer>();
    bool m_fastSend = false;
    // Declared before the transfers, so that it ends after every one of them has.
    TransferThread m_dataThread;
    std::vector<Entry> m_entries;
};

} // namespace peer
