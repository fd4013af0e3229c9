#pragma once

#include "app/bar_areas.h"
#include "app/skin.h"

#include <QFrame>
#include <QPointer>

class QAction;
class QMenu;

namespace app {

// The strip of five image buttons: chat, send a file, voice chat, encrypted chat and the CTCP
// queries. The main window's acts on the selected contact, a chat window's on its peer: the
// actions it is given already know which.
class MenuBar : public QFrame
{
    Q_OBJECT

public:
    static constexpr QSize kSkinSize{150, 20};

    struct Targets
    {
        QAction* chat = nullptr;
        QAction* sendFile = nullptr;
        QAction* voiceChat = nullptr;
        QAction* encryptedChat = nullptr;
        QMenu* ctcp = nullptr;
    };
    // A chat window's bar sits in a sunken edge; the main window's has none.
    enum class Edge { None, Sunken };

    MenuBar(const QString& title, const Skin& skin, const Targets& targets, Edge edge,
            QWidget* parent);

    // What a press in `zone` does; nothing for the gaps.
    void press(MenuBarZone zone);
    // The button over `zone`, for tests and screen readers.
    QWidget* button(MenuBarZone zone) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void placeButtons();

    QImage m_composed; // null without a skin
    Targets m_targets;
    QPointer<QMenu> m_ctcp;
};

} // namespace app
