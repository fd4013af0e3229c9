#pragma once

#include <QByteArray>
#include <QFrame>

class QLabel;
class QPushButton;

namespace peer {

// Asks the user about a peer's certificate that no pin knows yet, on a private link we listened
// for: both fingerprints to compare with the peer, and Accept or Refuse. Its texts come from the
// network in part and are shown as plain text; it never takes the keyboard focus by itself, and
// Enter in its window does not answer it.
class PeerKeyQuestion : public QFrame
{
    Q_OBJECT

public:
    PeerKeyQuestion(const QByteArray& nick, const QByteArray& theirFingerprint,
                    const QByteArray& ourFingerprint, QWidget* parent);

    QLabel* text() const { return m_text; }
    QPushButton* acceptButton() const { return m_accept; }
    QPushButton* refuseButton() const { return m_refuse; }

    // Lies over the top of `window`, across its width, and follows its size: for windows whose
    // own layout has no room for it.
    void overlay(QWidget* window);

signals:
    // One of the two, once; the question goes after it.
    void accepted();
    void refused();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void place();

    QLabel* m_text = nullptr;
    QPushButton* m_accept = nullptr;
    QPushButton* m_refuse = nullptr;
    QWidget* m_window = nullptr;
};

} // namespace peer
