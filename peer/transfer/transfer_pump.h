#pragma once

#include "peer/common/texts.h"
#include "peer/transfer/data_link.h"
#include "peer/transfer/transfer_core.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>
#include <optional>

namespace peer {

class PartFile;

// The data path of one transfer while its bytes flow: the link, the file, and the bookkeeping of
// the transfer core. It may live on a thread of its own; the transfer that made it learns of it
// only through its signals, which say the count at most every kProgressMs and once at the end.
class TransferPump : public QObject
{
    Q_OBJECT

public:
    // How often the owner hears of progress: a window refreshes no more often than this.
    static constexpr qint64 kProgressMs = 50;

    struct Outcome
    {
        bool complete = false;
        TransferError error = TransferError::PeerClosed; // when not complete
        QString detail;
        quint64 count = 0;
    };

    ~TransferPump() override;

    // Starts the flow on the pump's thread, once the owner has put it there.
    void launch();
    // Ends the flow from the owner's thread, waiting until it has: afterwards the pump touches
    // neither link nor file. Nothing follows; outcome() stays as it was.
    void halt();
    // Whether the pump may go to the data thread (see DataLink::canMove()).
    bool canMove() const { return m_link->canMove(); }
    // Once ended() came, or after halt().
    const Outcome& outcome() const { return m_outcome; }

signals:
    void progressed(quint64 count);
    void ended();

protected:
    TransferPump(std::unique_ptr<DataLink> link, QByteArray early);

    // The first step, on the pump's thread; `early` holds what came before the pump did.
    virtual void begin(const QByteArray& early) = 0;
    void finish(const Outcome& outcome);
    // Ends short of the size, at the count last reported.
    void fail(TransferError error, const QString& detail = {});
    // The count so far: kept for the outcome, told to the owner when a report is due.
    void report(quint64 count);
    bool isRunning() const { return m_running; }
    // Waits briefly for the peer's next word when it answers each block, off the GUI thread and
    // within this wake's share of the thread; false when it did not come (the event loop then
    // says when it does).
    bool awaitAnswer();
    // A wake begins: its share of the thread counts from here.
    void beginTurn() { m_turn.start(); }

    DataLink* m_link;

private:
    void start();
    void stop();

    QByteArray m_early;
    QElapsedTimer m_sinceReport;
    QElapsedTimer m_turn; // since this wake began
    QTimer* m_lateReport; // a count held back by the rate limit still goes out
    Outcome m_outcome;
    bool m_running = false;
    bool m_ended = false;
};

// The sending side: as much as the window lets out (one block after each whole acknowledgement
// in the default mode; with fast send whatever the kernel will take), while the acknowledgements
// are read and checked.
class SendPump final : public TransferPump
{
    Q_OBJECT

public:
    // `fileFd` stays open, and the owner's, until the pump has ended.
    SendPump(std::unique_ptr<DataLink> link, QByteArray early, int fileFd,
             const SendWindow& window);

private:
    void begin(const QByteArray& early) override;
    void readAcks();
    void fill();
    // The acknowledgements in `bytes`; false once the pump has finished.
    bool take(QByteArrayView bytes);

    int m_fd;
    SendWindow m_window;
    AckReader m_acks;
};

// The receiving side: stores what arrives, never past the offered size, and acknowledges each
// time it has read what was there with the total kept.
class ReceivePump final : public TransferPump
{
    Q_OBJECT

public:
    // `file` stays the owner's; the pump writes to it until it has ended.
    ReceivePump(std::unique_ptr<DataLink> link, QByteArray early, PartFile& file,
                const ReceiveCount& count);

private:
    void begin(const QByteArray& early) override;
    void readData();
    // Reads, stores and acknowledges what the link has; true when it was one block of a
    // sender that waits for the acknowledgement, so that its next is worth a wait.
    bool readWhatIsThere();
    // Stores `data`; false (the pump has finished) when it could not be stored.
    bool store(const char* data, qint64 size);
    // Tells the sender the count kept so far; false once the pump has finished.
    bool acknowledge();
    void peerClosed();

    PartFile& m_file;
    ReceiveCount m_count;
    QByteArray m_buffer;
};

} // namespace peer
