#include "peer/common/window_place.h"
#include "peer/common/window_placer.h"

#include <QDialog>
#include <QGuiApplication>
#include <QScreen>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <vector>

using peer::WindowPlacer;

namespace {

class WindowPlacerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        main.resize(225, 360);
        main.move(200, 100);
        main.show();
        placer.setMainWindow(&main);
    }
    QDialog* open(WindowPlacer::Opener opener, const QWidget* near = nullptr)
    {
        windows.push_back(std::make_unique<QDialog>());
        QDialog* window = windows.back().get();
        window->resize(390, 310);
        placer.show(window, opener, near);
        return window;
    }
    static bool onOneSpot(const QWidget* a, const QWidget* b)
    {
        return std::abs(a->x() - b->x()) < peer::kCascadeStep
               && std::abs(a->y() - b->y()) < peer::kCascadeStep;
    }

    QWidget main;
    WindowPlacer placer;
    std::vector<std::unique_ptr<QDialog>> windows;
};

TEST_F(WindowPlacerTest, EveryNewWindowStepsClearOfTheOpenOnesOrComesUpOverItsOwn)
{
    QDialog* first = open(WindowPlacer::Opener::Network);
    QDialog* second = open(WindowPlacer::Opener::User);
    QDialog* third = open(WindowPlacer::Opener::Network);
    EXPECT_EQ(first->pos(), peer::cascadePosition(main.frameGeometry(), first->size(), {},
                                                  main.screen()->availableGeometry()));
    EXPECT_FALSE(onOneSpot(first, second));
    EXPECT_FALSE(onOneSpot(first, third));
    EXPECT_FALSE(onOneSpot(second, third));

    // A closed window's spot is free again.
    const QPoint freed = second->pos();
    second->close();
    EXPECT_EQ(open(WindowPlacer::Opener::User)->pos(), freed);

    // A window for another comes up over that one.
    QDialog* chat = open(WindowPlacer::Opener::User);
    chat->move(500, 300);
    QDialog* transfer = open(WindowPlacer::Opener::User, chat);
    EXPECT_TRUE(chat->frameGeometry().contains(transfer->frameGeometry().center()));
    EXPECT_FALSE(onOneSpot(chat, transfer));
}

// The offscreen platform makes every window it shows the active one, whatever the window asks;
// on X11 the attribute keeps the window manager from giving it the keyboard (desktop_test).
TEST(WindowPlacer, OnlyAWindowTheUserOpensMayTakeTheKeyboard)
{
    for (const auto opener : {WindowPlacer::Opener::Network, WindowPlacer::Opener::User}) {
        const bool network = opener == WindowPlacer::Opener::Network;
        SCOPED_TRACE(network ? "network" : "user");
        WindowPlacer placer;
        QDialog window;
        placer.show(&window, opener);
        EXPECT_TRUE(window.isVisible());
        EXPECT_EQ(window.testAttribute(Qt::WA_ShowWithoutActivating), network);
    }
}

} // namespace
