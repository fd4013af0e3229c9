#include "peer/session_record.h"

#include <QObject>
#include <gtest/gtest.h>

using namespace peer;

TEST(SessionRecords, AllocatesOnlyKnownKinds)
{
    EXPECT_EQ(AllocRecord(KIND_CHAT)->kind, KIND_CHAT);
    EXPECT_EQ(AllocRecord(KIND_TRANSFER)->kind, KIND_TRANSFER);
    EXPECT_EQ(AllocRecord(KIND_AUDIOBUF)->kind, KIND_AUDIOBUF);
    EXPECT_EQ(AllocRecord(3), nullptr);
    EXPECT_EQ(AllocRecord(-1), nullptr);
}

TEST(SessionRecords, KeepsOrderThroughRemovals)
{
    ChatList list;
    ChatSession* first = list.AppendRecord(std::make_unique<ChatSession>());
    ChatSession* middle = list.AppendRecord(std::make_unique<ChatSession>());
    ChatSession* last = list.AppendRecord(std::make_unique<ChatSession>());
    EXPECT_EQ(list.AppendRecord(nullptr), nullptr);
    EXPECT_TRUE(list.RemoveRecord(middle));
    EXPECT_FALSE(list.RemoveRecord(middle)); // no longer in the list: nothing freed twice
    ASSERT_EQ(list.CountRecords(), 2);
    EXPECT_EQ(list.at(0), first);
    EXPECT_EQ(list.at(1), last);
    EXPECT_TRUE(list.RemoveRecord(first));
    EXPECT_EQ(list.at(0), last);
    list.FreeAllRecords();
    EXPECT_EQ(list.CountRecords(), 0);
    list.FreeAllRecords();
}

TEST(SessionRecords, FindsByEitherKeyNearestTheHeadFirst)
{
    QObject socket;
    QObject window;
    QObject other;
    DccList list;
    TransferSession* bySocket = list.AppendRecord(std::make_unique<TransferSession>());
    bySocket->socket = &socket;
    TransferSession* byWindow = list.AppendRecord(std::make_unique<TransferSession>());
    byWindow->window = &window;
    TransferSession* sameSocket = list.AppendRecord(std::make_unique<TransferSession>());
    sameSocket->socket = &socket;

    EXPECT_EQ(FindTransfer(list, &socket, nullptr), bySocket);
    EXPECT_EQ(FindTransfer(list, nullptr, &window), byWindow);
    EXPECT_EQ(FindTransfer(list, nullptr, nullptr), nullptr);
    EXPECT_EQ(FindTransfer(list, &other, &other), nullptr);
}

TEST(SessionRecords, RoutesServerTextOnlyToRoutedChatsWithTheExactNick)
{
    ChatList list;
    ChatSession* closed = list.AppendRecord(std::make_unique<ChatSession>());
    closed->nick = "bob";
    ChatSession* open = list.AppendRecord(std::make_unique<ChatSession>());
    open->nick = "bob";
    open->serverRouted = true;
    EXPECT_EQ(FindRoutedChat(list, "bob"), open);
    EXPECT_EQ(FindRoutedChat(list, "Bob"), nullptr);
}
