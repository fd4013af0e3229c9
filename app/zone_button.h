#pragma once

#include <QAbstractButton>

namespace app {

// A click area over a skin image: the image shows the button, this only makes it one. It acts
// when pressed, as the skinned bars always have, and carries the name and tooltip that a screen
// reader and a mouse user need, since the picture says nothing to either.
class ZoneButton : public QAbstractButton
{
    Q_OBJECT

public:
    ZoneButton(const QString& name, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace app
