#pragma once

#include <QThread>

namespace peer {

// The one thread on which the data of every file transfer flows, so that no block waits for
// the windows and no window waits for a block. It starts with the first transfer that needs it
// and ends with its owner, after the transfers it carried.
class TransferThread final : public QThread
{
    Q_OBJECT

public:
    explicit TransferThread(QObject* parent = nullptr);
    // Ends the thread's loop and waits for it: every pump must have come back or gone by then.
    ~TransferThread() override;

    // The thread, started if it was not running.
    QThread* running();

protected:
    void run() override;
};

} // namespace peer
