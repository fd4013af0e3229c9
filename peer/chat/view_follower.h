#pragma once

#include <QObject>

class QScrollBar;

namespace peer {

// Keeps a conversation view at its newest line while the user leaves it there: whatever makes
// the range grow (a new line, a narrower window, the restore after a maximise) brings the end
// back into view. Scrolling away stops it; scrolling back to the end starts it again.
class ViewFollower : public QObject
{
    Q_OBJECT

public:
    explicit ViewFollower(QScrollBar* bar);

    bool following() const { return m_following; }

private:
    QScrollBar* m_bar;
    bool m_following = true;
    bool m_moving = false; // our own move to the end, not the user's
};

} // namespace peer
