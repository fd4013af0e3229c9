#pragma once

#include <QDateTime>

#include <functional>
#include <memory>

namespace irc {

// The clock and the timer of the wait between passes over the server list; tests put a fake
// clock here so that the back-off runs without real waiting.
class RetryTimer
{
public:
    virtual ~RetryTimer() = default;
    virtual QDateTime now() const = 0;
    // Calls `fire` once after `delayMs`, replacing whatever was started before.
    virtual void start(qint64 delayMs, std::function<void()> fire) = 0;
    virtual void stop() = 0;
};

// The real clock and a Qt timer.
std::unique_ptr<RetryTimer> makeRetryTimer();

} // namespace irc
