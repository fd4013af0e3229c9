#pragma once

#include <QPoint>
#include <QRect>

#include <array>

namespace app {

// What a click on the strip of image buttons asks for. Only x counts: a click anywhere in a
// column belongs to its button, and the gaps between buttons do nothing.
enum class MenuBarZone { None, Chat, SendFile, VoiceChat, EncryptedChat, CtcpMenu };

struct ZoneSpan
{
    MenuBarZone zone;
    int first; // inclusive
    int last;  // inclusive
};

inline constexpr std::array<ZoneSpan, 5> kMenuBarZones = {{
    {MenuBarZone::Chat, 6, 33},
    {MenuBarZone::SendFile, 36, 60},
    {MenuBarZone::VoiceChat, 63, 83},
    {MenuBarZone::EncryptedChat, 86, 115},
    {MenuBarZone::CtcpMenu, 119, 144},
}};

MenuBarZone menuBarZoneAt(int x);

// Where the CTCP menu opens, given the bar's frame on the screen: 119 pixels in from its left
// edge and 5 above its bottom edge.
QPoint ctcpMenuPosition(const QRect& barFrame);

// The title bar's two buttons sit in one row; everywhere else a press starts a drag.
enum class TitleBarArea { Drag, Minimise, Close };

inline constexpr QRect kMinimiseArea{QPoint(196, 6), QPoint(209, 14)};
inline constexpr QRect kCloseArea{QPoint(211, 6), QPoint(221, 14)};

TitleBarArea titleBarAreaAt(QPoint client);

// The title bar sits on the main window's top edge, 19 pixels above it, right-aligned.
inline constexpr int kTitleBarWidth = 225;
inline constexpr int kTitleBarHeight = 20;
inline constexpr int kTitleBarOverlap = 19;

QPoint titleBarPosition(const QRect& mainFrame);

// Where the main window goes during a drag so that the grabbed point of the title bar (in the
// bar's client coordinates, inside its one-pixel border) stays under the cursor.
QPoint draggedWindowPosition(QPoint cursor, QPoint grab);

} // namespace app
