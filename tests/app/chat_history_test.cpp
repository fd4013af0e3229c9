// Where the history of each conversation stands: kept for the contacts and the conversations
// fetched, and written to the store together rather than once per line.
#include "app/chat_history.h"
#include "config/store.h"
#include "tests/support/temp_store.h"
#include "tests/support/wait_for.h"

#include <gtest/gtest.h>

TEST(ChatHistoryMarks, AreKeptForContactsAndFetchedChatsOnlyAndWrittenTogether)
{
    test::TempStore temp;
    config::Store& store = temp.store();
    app::ChatHistory history(
        store, [](const QByteArray&) { return true; },
        [](const QByteArray&) -> std::optional<QString> { return std::nullopt; },
        [](const QByteArray& nick) { return nick.toLower(); },
        [](const QByteArray& nick) { return nick == "carol"; });
    irc::Capabilities granted;
    for (const auto capability :
         {irc::Capability::ChatHistory, irc::Capability::Batch, irc::Capability::ServerTime})
        granted.add(capability);
    history.setCapabilities(granted);
    history.fetch({"bob"});

    const QDateTime start(QDate(2026, 12, 1), QTime(10, 0), Qt::UTC);
    constexpr int kLines = 50;
    for (int i = 0; i < kLines; ++i) {
        const QByteArray n = QByteArray::number(i);
        history.noteLine("Bob", "b" + n, start.addSecs(i));
        history.noteLine("carol", "c" + n, start.addSecs(i));
        history.noteLine("stranger" + n, "s" + n, start.addSecs(i));
    }
    // Not a write per line: the marks go to the store together, a little later.
    EXPECT_EQ(store.historyMark("bob"), std::nullopt);
    ASSERT_TRUE(test::waitFor([&] { return store.historyMark("bob").has_value(); },
                              app::ChatHistory::kWriteDelayMs + 3000));
    EXPECT_EQ(irc::HistoryMark::decode(*store.historyMark("bob")).lastMsgId, "b49");
    ASSERT_TRUE(store.historyMark("carol"));
    EXPECT_EQ(irc::HistoryMark::decode(*store.historyMark("carol")).lastMsgId, "c49");
    // A stranger's line writes nothing.
    for (int i = 0; i < kLines; ++i)
        EXPECT_EQ(store.historyMark("stranger" + QByteArray::number(i)), std::nullopt) << i;
}
