#pragma once

#include "app/skin.h"

#include <QMenuBar>

#include <array>

namespace app {

// The main window's menu bar: five menus of fixed widths over one skin image that draws their
// titles. Without the skin it writes the titles itself, in a size that fits the same widths.
class MainMenuBar : public QMenuBar
{
    Q_OBJECT

public:
    static constexpr std::array<int, 5> kItemWidths = {37, 30, 21, 39, 28};
    static constexpr int kHeight = 24;
    static constexpr QSize kSkinSize{224, 24};
    // Of the composed skin, this much shows, from its corner.
    static constexpr QSize kShownSize{223, 23};

    MainMenuBar(const Skin& skin, QWidget* parent);

    bool hasSkin() const { return !m_composed.isNull(); }
    // The font the titles are written in when there is no skin.
    const QFont& titleFont() const { return m_titleFont; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void actionEvent(QActionEvent* event) override;

private:
    void fitTitleFont();

    QImage m_composed;
    QFont m_titleFont;
};

} // namespace app
