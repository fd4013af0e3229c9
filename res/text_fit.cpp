#include "res/text_fit.h"

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QProxyStyle>
#include <QPushButton>
#include <QStyleFactory>
#include <QWidget>

namespace res {

namespace {

// Below this a text is no longer worth reading; a control that does not fit even then keeps it.
constexpr qreal kSmallestPoints = 6.0;
constexpr qreal kStep = 0.5;
// What is left of the style's padding between a push button's frame and its text, each side.
constexpr int kButtonPadding = 1;

// The application's style, except that push buttons ask for little more than their frame
// around their text. The styles draw a button's text centred in the whole space inside its
// frame, never inside the padding, so the smaller size hint still shows all of it.
class SnugButtonStyle : public QProxyStyle
{
public:
    SnugButtonStyle()
        : QProxyStyle(QStyleFactory::create(QApplication::style()->name()))
    {}

    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override
    {
        if (metric == PM_ButtonMargin)
            return 2 * kButtonPadding;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};

QStyle* snugButtonStyle()
{
    // One for the whole program, owned by the application and gone with it, after the windows.
    static QPointer<QStyle> style;
    if (!style) {
        style = new SnugButtonStyle;
        style->setParent(qApp);
    }
    return style;
}

// The font the widget would have without one of its own.
QFont inheritedFont(const QWidget* widget)
{
    if (const QWidget* parent = widget->parentWidget(); parent && !widget->isWindow())
        return parent->font();
    return QApplication::font(widget);
}

void fitNow(QWidget* widget)
{
    if (widget->width() <= 0 || widget->height() <= 0)
        return;
    // Back to the inherited font first: most controls fit in it, and then they keep following it.
    widget->setFont(QFont());
    if (textFits(widget))
        return;
    const QFont base = inheritedFont(widget);
    QFont font = base;
    if (base.pointSizeF() > 0) {
        for (qreal points = base.pointSizeF() - kStep; points >= kSmallestPoints; points -= kStep) {
            font.setPointSizeF(points);
            widget->setFont(font);
            if (textFits(widget))
                return;
        }
    } else {
        // A font sized in pixels shrinks a pixel at a time.
        const int smallest = qMax(1, int(kSmallestPoints * widget->logicalDpiY() / 72.0));
        for (int pixels = base.pixelSize() - 1; pixels >= smallest; --pixels) {
            font.setPixelSize(pixels);
            widget->setFont(font);
            if (textFits(widget))
                return;
        }
    }
}

const char kFitterName[] = "kivvo_text_fitter";

// Lives on its widget and fits it again whenever its size changes.
class Fitter : public QObject
{
public:
    explicit Fitter(QWidget* widget)
        : QObject(widget)
    {
        setObjectName(QString::fromLatin1(kFitterName));
        widget->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Resize)
            fitNow(static_cast<QWidget*>(watched));
        return false;
    }
};

} // namespace

bool textFits(const QWidget* widget)
{
    const QSize need = widget->sizeHint();
    return need.width() <= widget->width() && need.height() <= widget->height();
}

void fitText(QWidget* widget)
{
    if (qobject_cast<QPushButton*>(widget) && widget->style() != snugButtonStyle())
        widget->setStyle(snugButtonStyle());
    if (!widget->findChild<QObject*>(QString::fromLatin1(kFitterName), Qt::FindDirectChildrenOnly))
        new Fitter(widget);
    fitNow(widget);
}

} // namespace res
