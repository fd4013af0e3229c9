#include "peer/common/window_place.h"

#include <QPoint>
#include <QRect>
#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>

using peer::cascadePosition;
using peer::kCascadeStep;

namespace {

// The main window as the program puts it, and a chat window's size.
constexpr QRect kMain(30, 50, 225, 360);
constexpr QSize kChat(390, 310);
// A 1024 x 768 screen with a 24-pixel panel at the top.
constexpr QRect kScreen(0, 24, 1024, 744);

struct Case
{
    const char* name;
    QRect owner;
    QSize size;
    QList<QPoint> open;
    QRect screen;
    QPoint expected;
};

void PrintTo(const Case& c, std::ostream* os)
{
    *os << c.name;
}

class CascadePosition : public ::testing::TestWithParam<Case>
{};

TEST_P(CascadePosition, PlacesTheNewWindow)
{
    const Case& c = GetParam();
    EXPECT_EQ(cascadePosition(c.owner, c.size, c.open, c.screen), c.expected) << c.name;
}

constexpr QRect kBigScreen(0, 0, 1280, 1024);
constexpr QRect kCentredOwner(500, 300, 280, 400); // centre (640, 500)
constexpr QSize kSmall(200, 100);
constexpr QPoint kCentred(540, 450);
constexpr QPoint kStep(28, 28);

Case row(const char* name, QRect owner, QSize size, QList<QPoint> open, QRect screen,
         QPoint expected)
{
    return {name, owner, size, std::move(open), screen, expected};
}

// A small window over the owner in the middle of a big screen, with `open` already there.
Case nearOwner(const char* name, QList<QPoint> open, QPoint expected)
{
    return row(name, kCentredOwner, kSmall, std::move(open), kBigScreen, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CascadePosition,
    ::testing::Values(
        nearOwner("centred on its owner", {}, kCentred),
        nearOwner("a step on from one open there", {kCentred}, kCentred + kStep),
        nearOwner("two steps past two", {kCentred, kCentred + kStep}, kCentred + 2 * kStep),
        nearOwner("the first free step, after one of three closed",
                  {kCentred, kCentred + 2 * kStep}, kCentred + kStep),
        nearOwner("a window moved a little still holds its spot", {kCentred + QPoint(-5, 9)},
                  kCentred + kStep),
        nearOwner("windows elsewhere leave the spot free",
                  {{0, 0}, kCentred + QPoint(40, 0), kCentred + QPoint(0, -30)}, kCentred),
        row("kept inside the screen beside a narrow main window", kMain, kChat, {}, kScreen,
            {0, 75}),
        row("the next one steps on from the edge", kMain, kChat, {{0, 75}}, kScreen, {28, 103}),
        row("below the panel when the owner is at the top", {30, 0, 225, 100}, kSmall, {}, kScreen,
            {42, 24}),
        row("back to the top left when it would leave the screen", {700, 500, 324, 268}, {400, 300},
            {{624, 468}}, {0, 0, 1024, 768}, {28, 0}),
        row("on the owner's screen, not the first one", {1100, 100, 225, 360}, kSmall, {},
            {1024, 0, 1280, 1024}, {1112, 230}),
        row("larger than the screen: its top left corner", kMain, {1100, 800}, {}, kScreen,
            {0, 24})));

// However many windows open one after another, no two share a spot and none leaves the screen.
TEST(CascadePositions, NeverPutTwoWindowsOnOneSpot)
{
    QList<QPoint> open;
    for (int i = 0; i < 60; ++i) {
        const QPoint at = cascadePosition(kMain, kChat, open, kScreen);
        EXPECT_TRUE(kScreen.contains(QRect(at, kChat))) << "window " << i;
        for (const QPoint& other : open)
            EXPECT_FALSE(std::abs(at.x() - other.x()) < kCascadeStep
                         && std::abs(at.y() - other.y()) < kCascadeStep)
                << "window " << i << " on the spot of another";
        open << at;
    }
}

} // namespace
