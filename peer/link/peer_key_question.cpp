#include "peer/link/peer_key_question.h"

#include "peer/common/texts.h"

#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include <algorithm>

namespace peer {

namespace {

constexpr int kOverlayTop = 30;
constexpr int kOverlayMargin = 10;

} // namespace

PeerKeyQuestion::PeerKeyQuestion(const QByteArray& nick, const QByteArray& theirFingerprint,
                                 const QByteArray& ourFingerprint, QWidget* parent)
    : QFrame(parent)
{
    setObjectName(QStringLiteral("PeerKeyQuestion"));
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    m_text = new QLabel(peerKeyQuestionText(nick, theirFingerprint, ourFingerprint), this);
    m_text->setTextFormat(Qt::PlainText);
    m_text->setWordWrap(true);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_accept = new QPushButton(tr("Accept"), this);
    m_refuse = new QPushButton(tr("Refuse"), this);
    for (QPushButton* button : {m_accept, m_refuse}) {
        // Reached with Tab or the mouse only: a line being typed must not end in an answer.
        button->setAutoDefault(false);
        button->setDefault(false);
        button->setFocusPolicy(Qt::TabFocus);
    }
    auto* layout = new QGridLayout(this);
    layout->addWidget(m_text, 0, 0, 1, 3);
    layout->setColumnStretch(0, 1);
    layout->addWidget(m_accept, 1, 1);
    layout->addWidget(m_refuse, 1, 2);
    connect(m_accept, &QPushButton::clicked, this, [this] {
        emit accepted();
        deleteLater();
    });
    connect(m_refuse, &QPushButton::clicked, this, [this] {
        emit refused();
        deleteLater();
    });
}

void PeerKeyQuestion::overlay(QWidget* window)
{
    if (m_window)
        m_window->removeEventFilter(this);
    m_window = window;
    setParent(window);
    window->installEventFilter(this);
    place();
    raise();
    show();
}

bool PeerKeyQuestion::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_window && event->type() == QEvent::Resize)
        place();
    return QFrame::eventFilter(watched, event);
}

void PeerKeyQuestion::place()
{
    if (!m_window)
        return;
    const int width = std::max(0, m_window->width() - 2 * kOverlayMargin);
    const int height = hasHeightForWidth() ? heightForWidth(width) : sizeHint().height();
    setGeometry(kOverlayMargin, kOverlayTop, width, height);
}

} // namespace peer
