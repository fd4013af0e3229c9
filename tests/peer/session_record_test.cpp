#include "peer/chat/new_chat_gate.h"
#include "peer/common/session_record.h"

#include <QObject>
#include <gtest/gtest.h>

using namespace peer;

TEST(SessionRecords, KeepsOrderThroughRemovalsAndRouteServerTextByTheExactNick)
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

    // Server text goes only to routed chats with the exact nick.
    ChatSession* closed = list.AppendRecord(std::make_unique<ChatSession>());
    closed->nick = "bob";
    ChatSession* open = list.AppendRecord(std::make_unique<ChatSession>());
    open->nick = "bob";
    open->serverRouted = true;
    EXPECT_EQ(FindRoutedChat(list, "bob"), open);
    EXPECT_EQ(FindRoutedChat(list, "Bob"), nullptr);
}

TEST(NewChatGate, OpensTenWindowsAMinuteAndHoldsTheRest)
{
    using Verdict = NewChatGate::Verdict;
    using Line = NewChatGate::HeldLine;
    struct Step
    {
        QByteArray nick;
        qint64 atMs;
        Verdict verdict;
    };
    std::vector<Step> steps;
    for (int i = 0; i < NewChatGate::kMaxWindows; ++i)
        steps.push_back({"p" + QByteArray::number(i), i * 1000, Verdict::Open});
    steps.push_back({"late", 30000, Verdict::Held});
    steps.push_back({"late", 70000, Verdict::Held}); // held stays held, even with room again
    steps.push_back({"later", 59999, Verdict::Held});
    steps.push_back({"next", 60000, Verdict::Open});  // p0's minute is over
    steps.push_back({"after", 61000, Verdict::Open}); // and p1's
    steps.push_back({"more", 61001, Verdict::Held});

    NewChatGate gate;
    for (const Step& step : steps)
        EXPECT_EQ(gate.arrive(step.nick, {{"hi " + step.nick, false}}, step.atMs), step.verdict)
            << step.nick.constData() << " at " << step.atMs;
    EXPECT_EQ(gate.heldNicks(), (QList<QByteArray>{"late", "later", "more"}));
    EXPECT_EQ(gate.release("late"), (std::vector<Line>{{"hi late", false}, {"hi late", false}}));
    EXPECT_TRUE(gate.release("late").empty());
    EXPECT_EQ(gate.heldNicks(), (QList<QByteArray>{"later", "more"}));
}

TEST(NewChatGate, BoundsWhatItHolds)
{
    NewChatGate gate;
    gate.setNickComparison([](QByteArrayView a, QByteArrayView b) {
        return QByteArray(a.data(), a.size()).toLower() == QByteArray(b.data(), b.size()).toLower();
    });
    for (int i = 0; i < NewChatGate::kMaxWindows; ++i)
        gate.arrive("p" + QByteArray::number(i), {}, 0);
    // One sender's lines: the newest kMaxHeldLines, the away echo kept with them.
    for (int i = 0; i < NewChatGate::kMaxHeldLines + 5; ++i)
        gate.arrive(i % 2 ? "Bob" : "bob", {{QByteArray::number(i), false}, {"away", true}}, 1);
    const auto lines = gate.release("BOB");
    ASSERT_EQ(int(lines.size()), NewChatGate::kMaxHeldLines);
    EXPECT_EQ(lines.back(), (NewChatGate::HeldLine{"away", true}));
    // Two lines an arrival: the last kMaxHeldLines / 2 arrivals are kept.
    EXPECT_EQ(lines.front().text,
              QByteArray::number(NewChatGate::kMaxHeldLines + 5 - NewChatGate::kMaxHeldLines / 2));

    // Senders: beyond the bound they are dropped, said once until one is let out.
    for (int i = 0; i < NewChatGate::kMaxHeldSenders; ++i)
        EXPECT_EQ(gate.arrive("h" + QByteArray::number(i), {}, 2), NewChatGate::Verdict::Held);
    EXPECT_EQ(gate.arrive("x", {}, 3), NewChatGate::Verdict::DroppedFirst);
    EXPECT_EQ(gate.arrive("y", {}, 3), NewChatGate::Verdict::Dropped);
    EXPECT_EQ(gate.arrive("h0", {{"still kept", false}}, 3), NewChatGate::Verdict::Held);
    gate.release("h1");
    EXPECT_EQ(gate.arrive("x", {}, 4), NewChatGate::Verdict::Held);
    EXPECT_EQ(gate.arrive("y", {}, 4), NewChatGate::Verdict::DroppedFirst);
}
