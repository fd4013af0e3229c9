#include "peer/chat/view_follower.h"

#include <QScrollBar>

namespace peer {

ViewFollower::ViewFollower(QScrollBar* bar)
    : QObject(bar)
    , m_bar(bar)
{
    // A range change is told before the value is clamped to it, so the end is still known as
    // the user left it: a view enlarged until everything fits has value 0 == maximum 0, and
    // stays following when it shrinks back.
    connect(bar, &QScrollBar::rangeChanged, this, [this](int, int maximum) {
        if (!m_following)
            return;
        m_moving = true;
        m_bar->setValue(maximum);
        m_moving = false;
    });
    connect(bar, &QScrollBar::valueChanged, this, [this](int value) {
        if (!m_moving)
            m_following = value == m_bar->maximum();
    });
}

} // namespace peer
