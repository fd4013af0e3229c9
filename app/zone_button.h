#pragma once

#include <QAbstractButton>

#include <functional>

namespace app {

// A click area over a skin image: the image shows the button, this only makes it one (without
// the image it draws a glyph of its own). It acts
// when pressed, as the skinned bars always have, and carries the name and tooltip that a screen
// reader and a mouse user need, since the picture says nothing to either.
class ZoneButton : public QAbstractButton
{
    Q_OBJECT

public:
    // Something to draw where the bar has no skin to show the button; never over a skin.
    using Glyph = std::function<void(QPainter& painter, const QRect& area)>;

    ZoneButton(const QString& name, QWidget* parent);

    void setGlyph(Glyph glyph);
    bool hasGlyph() const { return bool(m_glyph); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Glyph m_glyph;
};

} // namespace app
