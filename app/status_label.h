#pragma once

#include <QLabel>
#include <QString>

namespace app {

// The status bar's text. The main window is narrow and the link's texts are long: what does not
// fit ends in "…", and the whole text is in the tooltip, so nothing is lost. Plain text only:
// the texts carry server names and errors from the network.
class StatusLabel : public QLabel
{
public:
    explicit StatusLabel(const QString& text, QWidget* parent = nullptr);

    void setFullText(const QString& text);
    const QString& fullText() const { return m_full; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void elide();

    QString m_full;
};

} // namespace app
