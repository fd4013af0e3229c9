#include "app/command_table.h"

#include <QAction>
#include <QMenu>
#include <gtest/gtest.h>

using app::Command;
using app::CommandTable;

namespace {

struct Call
{
    Command id;
    CommandTable::Target target;
    bool operator==(const Call& o) const { return id == o.id && target == o.target; }
};

} // namespace

TEST(CommandTable, EveryIdReachesItsHandlerWithTheSelection)
{
    CommandTable table;
    std::vector<Call> calls;
    CommandTable::Target selection = QByteArray("carol");
    table.setSelection([&] { return selection; });
    for (const Command id : CommandTable::all()) {
        EXPECT_FALSE(table.action(id)->isEnabled()) << int(id); // nothing handles it yet
        EXPECT_FALSE(table.run(id));
        table.setHandler(id, [&calls, id](const auto& target) { calls.push_back({id, target}); });
    }
    for (const Command id : CommandTable::all()) {
        calls.clear();
        QAction* action = table.action(id);
        ASSERT_NE(action, nullptr) << int(id);
        EXPECT_TRUE(action->isEnabled()) << int(id);
        EXPECT_EQ(action->data().toInt(), int(id));
        action->trigger();
        selection.reset();
        action->trigger();
        EXPECT_TRUE(table.run(id, QByteArray("bob")));
        selection = "carol";
        EXPECT_EQ(calls, (std::vector<Call>{{id, "carol"}, {id, std::nullopt}, {id, "bob"}}))
            << int(id);
    }
}

TEST(CommandTable, AChatWindowsItemsActOnItsPeerWhateverIsSelected)
{
    CommandTable table;
    table.setSelection([] { return QByteArray("carol"); });
    std::vector<Call> calls;
    for (Command id : {Command::Version, Command::RelayedChat})
        table.setHandler(id, [&calls, id](const auto& target) { calls.push_back({id, target}); });
    QMenu menu;
    QAction* version = table.addTargeted(&menu, Command::Version, "bob");
    QAction* relayed = table.addTargeted(&menu, Command::RelayedChat, "bob");
    QAction* voice = table.addTargeted(&menu, Command::VoiceChat, "bob");
    EXPECT_EQ(version->text(), "Version");
    EXPECT_EQ(relayed->text(), "Relayed Chat");
    EXPECT_FALSE(voice->isEnabled()); // no handler: shown, greyed out
    version->trigger();
    relayed->trigger();
    EXPECT_EQ(calls, (std::vector<Call>{{Command::Version, "bob"}, {Command::RelayedChat, "bob"}}));
}

TEST(CommandTable, AHandlerMayReplaceItselfWhileRunning)
{
    CommandTable table;
    int first = 0;
    int second = 0;
    table.setHandler(Command::Exit, [&](const auto&) {
        ++first;
        table.setHandler(Command::Exit, [&](const auto&) { ++second; });
    });
    table.run(Command::Exit, std::nullopt);
    table.run(Command::Exit, std::nullopt);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 1);
}
