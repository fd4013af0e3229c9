#pragma once

#include <QProcess>

namespace test {

// Ends a peer or server the suites started: asked first, then killed if it takes longer than
// three seconds, so that no test waits on a daemon that hangs on its way out.
inline void stopProcess(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(3000))
        process.kill();
    process.waitForFinished(1000);
}

} // namespace test
