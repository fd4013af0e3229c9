#pragma once

#include "irc/retry_timer.h"

#include <QDateTime>
#include <QList>

#include <functional>

namespace test {

// Time stands still until the test moves it; a started wait fires only when the test says so.
class FakeRetryTimer : public irc::RetryTimer
{
public:
    QDateTime now() const override { return clock; }
    void start(qint64 delayMs, std::function<void()> fire) override
    {
        delays << delayMs;
        m_fire = std::move(fire);
    }
    void stop() override
    {
        ++stops;
        m_fire = nullptr;
    }
    bool pending() const { return bool(m_fire); }
    // Moves the clock to the end of the last wait and fires it.
    void elapse()
    {
        clock = clock.addMSecs(delays.last());
        auto fire = std::move(m_fire);
        m_fire = nullptr;
        if (fire)
            fire();
    }

    QDateTime clock{QDate(2026, 3, 1), QTime(10, 42, 17)};
    QList<qint64> delays;
    int stops = 0;

private:
    std::function<void()> m_fire;
};

} // namespace test
