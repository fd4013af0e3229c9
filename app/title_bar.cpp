#include "app/title_bar.h"

#include "app/texts.h"
#include "app/zone_button.h"

#include <QCloseEvent>
#include <QCursor>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

namespace app {

namespace {

constexpr QRgb kBorder = qRgb(0x3a, 0x46, 0x52);
// Where the nick goes: right of the name that the skin shows, left of the two buttons.
constexpr QRect kNickArea(72, 0, 118, kTitleBarHeight - 2);
// Without a skin the bar writes the program's name itself, from the left.
constexpr QRect kPlainNameArea(6, 0, 184, kTitleBarHeight - 2);

void minimiseGlyph(QPainter& painter, const QRect& area)
{
    painter.setPen(QColor(kBorder));
    painter.drawRect(area.adjusted(0, 0, -1, -1));
    painter.fillRect(QRect(area.left() + 3, area.bottom() - 3, area.width() - 6, 2), kBorder);
}

void closeGlyph(QPainter& painter, const QRect& area)
{
    painter.setPen(QColor(kBorder));
    painter.drawRect(area.adjusted(0, 0, -1, -1));
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(kBorder), 1.5));
    const QRectF cross = QRectF(area).adjusted(3, 2, -3, -2);
    painter.drawLine(cross.topLeft(), cross.bottomRight());
    painter.drawLine(cross.topRight(), cross.bottomLeft());
}

} // namespace

TitleBar::TitleBar(const Skin& skin, Mode mode, QWidget* mainWindow)
    : QWidget(mainWindow, mode == Mode::Separate
                              ? Qt::Tool | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus
                              : Qt::Widget)
    , m_skin(skin.image())
    , m_mode(mode)
    , m_cursor([] { return QCursor::pos(); })
{
    setObjectName(QStringLiteral("TitleBar"));
    setWindowTitle(QStringLiteral("titlebar"));
    setFixedSize(kTitleBarWidth, kTitleBarHeight);
    setAttribute(Qt::WA_OpaquePaintEvent);

    auto* minimise = new ZoneButton(tr(text::kMinimise), this);
    minimise->setGeometry(kMinimiseArea.translated(clientOrigin()));
    connect(minimise, &QAbstractButton::pressed, this, &TitleBar::minimiseRequested);
    if (m_skin.isNull())
        minimise->setGlyph(minimiseGlyph);
    auto* close = new ZoneButton(tr(text::kClose), this);
    close->setGeometry(kCloseArea.translated(clientOrigin()));
    connect(close, &QAbstractButton::pressed, this, &TitleBar::closeRequested);
    if (m_skin.isNull())
        close->setGlyph(closeGlyph);

    m_drag.setInterval(kDragTickMs);
    connect(&m_drag, &QTimer::timeout, this, &TitleBar::dragStep);
}

void TitleBar::setNick(const QString& nick)
{
    m_nick = nick;
    update();
}

void TitleBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), kSkinBackground);
    QFont font = this->font();
    font.setBold(true);
    painter.setFont(font);
    const QFontMetrics metrics(font);
    if (!m_skin.isNull()) {
        // Drawn as it is, from the client area's corner; the border clips its edges.
        painter.setClipRect(rect().adjusted(1, 1, -1, -1));
        painter.drawImage(clientOrigin(), m_skin);
        painter.setClipping(false);
        // On the skin's dark band, in the colour of the name it shows.
        painter.setPen(Qt::white);
        const QRect area = kNickArea.translated(clientOrigin());
        painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter,
                         metrics.elidedText(m_nick, Qt::ElideRight, area.width()));
    } else {
        painter.setPen(QColor(kBorder));
        const QString text = m_nick.isEmpty()
                                 ? QString::fromLatin1(text::kKivvo)
                                 : QString::fromLatin1(text::kKivvoWithNick).arg(m_nick);
        const QRect area = kPlainNameArea.translated(clientOrigin());
        painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter,
                         metrics.elidedText(text, Qt::ElideRight, area.width()));
    }
    painter.setPen(QColor(kBorder));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void TitleBar::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint client = event->position().toPoint() - clientOrigin();
    if (!rect().adjusted(0, 0, -2, -2).contains(client))
        return; // the border
    // The two buttons take their own presses; whatever reaches here starts a drag.
    if (m_mode == Mode::Embedded) {
        if (QWindow* window = this->window()->windowHandle())
            window->startSystemMove();
        return;
    }
    m_dragStart = m_cursor();
    m_grab = client;
    emit dragStarted();
    m_drag.start();
}

void TitleBar::dragStep()
{
    emit dragMoved(draggedWindowPosition(m_cursor(), m_grab));
}

void TitleBar::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !m_drag.isActive())
        return;
    m_drag.stop();
    emit dragFinished(m_cursor() != m_dragStart);
}

void TitleBar::closeEvent(QCloseEvent* event)
{
    // Closing the caption closes the program, once this event is over. Accepted: Qt closes
    // every window when the program quits, and one that refused would cancel the quit.
    event->accept();
    QMetaObject::invokeMethod(this, &TitleBar::closeRequested, Qt::QueuedConnection);
}

} // namespace app
