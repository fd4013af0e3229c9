#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>

#include <functional>

namespace bench {

// Runs the event loop until `done`, at most `timeoutMs`; false on the time-out.
inline bool runUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

} // namespace bench
