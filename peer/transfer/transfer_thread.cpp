#include "peer/transfer/transfer_thread.h"

#include "peer/transfer/data_link.h"

namespace peer {

TransferThread::TransferThread(QObject* parent)
    : QThread(parent)
{
    setObjectName(QStringLiteral("transfers"));
}

TransferThread::~TransferThread()
{
    quit();
    wait();
}

QThread* TransferThread::running()
{
    if (!isRunning())
        start();
    return this;
}

void TransferThread::run()
{
    // Private links still flushing when their transfers ended stay here until they are done;
    // whatever is left when the thread ends goes with it.
    QObject home;
    setLingerHome(&home);
    exec();
    setLingerHome(nullptr);
}

} // namespace peer
