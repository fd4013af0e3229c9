#include "irc/retry_timer.h"

#include <QTimer>

#include <chrono>

namespace irc {

namespace {

class QtRetryTimer final : public RetryTimer
{
public:
    QtRetryTimer()
    {
        m_timer.setSingleShot(true);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] {
            // Taken out first: the pass it starts may start the timer again.
            const std::function<void()> fire = std::move(m_fire);
            m_fire = nullptr;
            if (fire)
                fire();
        });
    }
    QDateTime now() const override { return QDateTime::currentDateTime(); }
    void start(qint64 delayMs, std::function<void()> fire) override
    {
        m_fire = std::move(fire);
        m_timer.start(std::chrono::milliseconds(delayMs));
    }
    void stop() override
    {
        m_timer.stop();
        m_fire = nullptr;
    }

private:
    QTimer m_timer;
    std::function<void()> m_fire;
};

} // namespace

std::unique_ptr<RetryTimer> makeRetryTimer()
{
    return std::make_unique<QtRetryTimer>();
}

} // namespace irc
