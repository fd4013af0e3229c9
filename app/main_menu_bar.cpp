#include "app/main_menu_bar.h"

#include "res/resources.h"

#include <QActionEvent>
#include <QIcon>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleOptionMenuItem>

namespace app {

namespace {

constexpr QRgb kTitleKey = qRgb(0xd3, 0xe1, 0xf5);

// Qt sizes menu bar items by their text; ours have the widths the skin was drawn for, and no
// margins or spacing around them.
class FixedItemStyle : public QProxyStyle
{
public:
    explicit FixedItemStyle(const QMenuBar* bar)
        : m_bar(bar)
    {}

    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override
    {
        switch (metric) {
        case PM_MenuBarPanelWidth:
        case PM_MenuBarHMargin:
        case PM_MenuBarVMargin:
        case PM_MenuBarItemSpacing:
            return 0;
        default:
            return QProxyStyle::pixelMetric(metric, option, widget);
        }
    }

    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                           const QWidget* widget) const override
    {
        if (type == CT_MenuBarItem) {
            if (const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option)) {
                const QList<QAction*> actions = m_bar->actions();
                for (int i = 0; i < actions.size() && i < int(MainMenuBar::kItemWidths.size());
                     ++i) {
                    if (actions[i]->text() == item->text)
                        return {MainMenuBar::kItemWidths[size_t(i)], MainMenuBar::kHeight};
                }
            }
        }
        return QProxyStyle::sizeFromContents(type, option, size, widget);
    }

private:
    const QMenuBar* m_bar;
};

} // namespace

MainMenuBar::MainMenuBar(const Skin& skin, QWidget* parent)
    : QMenuBar(parent)
{
    setObjectName(QStringLiteral("MainMenuBar"));
    auto* style = new FixedItemStyle(this);
    style->setParent(this);
    setStyle(style);
    setNativeMenuBar(false);
    if (!skin.isNull())
        m_composed = composeSkin(skin.image(), kSkinSize);
    m_titleFont = font();
}

QSize MainMenuBar::sizeHint() const
{
    return {QMenuBar::sizeHint().width(), kHeight};
}

QSize MainMenuBar::minimumSizeHint() const
{
    return {QMenuBar::minimumSizeHint().width(), kHeight};
}

void MainMenuBar::actionEvent(QActionEvent* event)
{
    QMenuBar::actionEvent(event);
    fitTitleFont();
}

void MainMenuBar::fitTitleFont()
{
    // The largest size, not above the desktop's, at which every title fits its item with a
    // pixel to spare on each side.
    QFont font = this->font();
    int pixels = QFontMetrics(font).height();
    const QList<QAction*> items = actions();
    for (; pixels > 6; --pixels) {
        font.setPixelSize(pixels);
        const QFontMetrics metrics(font);
        bool fits = true;
        for (int i = 0; i < items.size() && i < int(kItemWidths.size()); ++i) {
            if (metrics.horizontalAdvance(items[i]->text()) > kItemWidths[size_t(i)] - 2
                || metrics.height() > kHeight - 2)
                fits = false;
        }
        if (fits)
            break;
    }
    m_titleFont = font;
}

void MainMenuBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), kSkinBackground);
    const QList<QAction*> items = actions();
    if (hasSkin()) {
        painter.drawImage(QPoint(0, 0), m_composed, QRect(QPoint(0, 0), kShownSize));
    } else {
        painter.setFont(m_titleFont);
        for (QAction* item : items) {
            // A pale key under each title, as the skin has, so that the close-set titles read
            // as five menus and not as one line.
            const QRect area = actionGeometry(item);
            painter.fillRect(QRect(area.left() + 1, 3, area.width() - 2, 17), kTitleKey);
            painter.setPen(palette().color(QPalette::WindowText));
            painter.drawText(area, Qt::AlignCenter, item->text());
        }
        if (!items.isEmpty()) {
            const QRect last = actionGeometry(items.last());
            const QPixmap grip = res::icon(QStringLiteral("MENUSIZE")).pixmap(16, 24);
            painter.drawPixmap(last.right() + 1, 0, grip);
        }
    }
    // Where the pointer or the keyboard is, or which menu is open.
    if (QAction* active = activeAction()) {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 0, 0, 28));
        painter.drawRoundedRect(QRectF(actionGeometry(active)).adjusted(1.5, 2.5, -1.5, -2.5), 3,
                                3);
    }
}

} // namespace app
