#pragma once

#include <QObject>

class QSocketNotifier;

namespace app {

// Turns SIGTERM and SIGINT into a Qt signal on the GUI thread (a desktop logout, Ctrl-C in a
// terminal), so that they run the normal close step. The handler only writes a byte to a
// socket pair, which is all a signal handler may safely do.
class UnixSignals : public QObject
{
    Q_OBJECT

public:
    explicit UnixSignals(QObject* parent = nullptr);
    ~UnixSignals() override;

signals:
    void terminationRequested(int signalNumber);

private:
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace app
