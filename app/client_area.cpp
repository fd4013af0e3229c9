#include "app/client_area.h"

#include "app/main_window.h"

#include <QPainter>

namespace app {

namespace {

constexpr QPoint kSidePosition(15, 75);
constexpr QSize kSideSize(40, 170);

} // namespace

ClientArea::ClientArea(const Skin& side, const MainWindow& window)
    : m_window(window)
{
    if (!side.isNull())
        m_side = composeSkin(side.image(), kSideSize);
}

void ClientArea::paintEvent(QPaintEvent*)
{
    if (!m_window.skinPainting() || m_side.isNull())
        return;
    QPainter painter(this);
    painter.drawImage(kSidePosition, m_side);
}

} // namespace app
