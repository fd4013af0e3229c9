// Where presence comes from, through the whole program against a scripted server: MONITOR when
// the server offers it (within its limit, ISON for the rest), ISON otherwise, and nothing at all
// when the server refuses ISON; nicks compared as the server folds them.
#include "app/status_label.h"
#include "diag/debug_log.h"
#include "tests/support/connected_program.h"

#include <QApplication>
#include <QDialog>
#include <QTest>
#include <QTimer>

using app::Command;
using test::waitFor;

namespace {

constexpr char kUnknown[] = "Presence unknown on this server";

class PresenceSourcesTest : public test::ConnectedProgramTest
{
protected:
    void SetUp() override { diag::DebugPanes::instance().clear(); }
    void connectWith(const QList<QByteArray>& contacts)
    {
        test::CoreOptions options;
        options.contacts = contacts;
        connect(options);
    }
    // What the program sent after `marker` (everything when it is not there).
    QByteArray sentAfter(const QByteArray& marker) const
    {
        const QByteArray all = server.received();
        const qsizetype at = all.indexOf(marker);
        return at < 0 ? all : all.mid(at + marker.size());
    }
    QString debugText() const { return diag::DebugPanes::instance().text(diag::Pane::Status); }
};

} // namespace

TEST_F(PresenceSourcesTest, MonitorReplacesTheIsonPollWhenTheServerOffersIt)
{
    connectWith({"bob", "carol"});
    ASSERT_TRUE(waitFor([&] { return server.received().contains("ISON bob carol\r\n"); }));
    server.send(":irc 005 alice MONITOR=100 NICKLEN=30 CASEMAPPING=rfc1459 :are supported\r\n");
    ASSERT_TRUE(waitFor(
        [&] { return server.received().contains("MONITOR C\r\nMONITOR + bob,carol\r\n"); }));
    // The answer to the ISON sent before the server said what it offers counts for nothing.
    server.send(":irc 303 alice :bob\r\n:irc 731 alice :bob,carol\r\n");
    ASSERT_TRUE(waitFor([&] { return items() == QStringList{"No Contacts Online"}; }));
    server.send(":irc 730 alice :Bob!b@host.example\r\n");
    ASSERT_TRUE(waitFor([&] { return items() == QStringList{"Bob"}; }));
    server.send(":irc 730 alice :carol!c@h\r\n");
    ASSERT_TRUE(waitFor([&] { return items() == (QStringList{"Bob", "carol"}); }));
    server.send(":irc 731 alice :BOB\r\n");
    ASSERT_TRUE(waitFor([&] { return items() == QStringList{"carol"}; }));

    // Removing a contact takes it off the server's list at once.
    item("carol")->setSelected(true);
    core->run(Command::RemoveSelectedContact);
    ASSERT_TRUE(waitFor([&] { return server.received().contains("MONITOR - carol\r\n"); }));
    EXPECT_EQ(items(), QStringList{"No Contacts Online"});

    // A contact added in the editor is watched as soon as the editor closes.
    core->temp.store().AddContact("dave");
    QTimer::singleShot(50, [] {
        if (auto* editor = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
            editor->accept();
    });
    core->run(Command::EditContacts);
    ASSERT_TRUE(waitFor([&] { return server.received().contains("MONITOR + dave\r\n"); }));

    // The ten-second poll asks nothing while every contact is watched.
    QTest::qWait(10500);
    EXPECT_FALSE(sentAfter("MONITOR C\r\n").contains("ISON"));
}

TEST_F(PresenceSourcesTest, ContactsPastTheMonitorLimitAreAskedWithIson)
{
    connectWith({"a1", "a2", "a3", "a4"});
    server.send(":irc 005 alice MONITOR=2 :are supported\r\n");
    ASSERT_TRUE(
        waitFor([&] { return server.received().contains("MONITOR C\r\nMONITOR + a1,a2\r\n"); }));
    ASSERT_TRUE(waitFor([&] { return sentAfter("MONITOR C\r\n").contains("ISON a3 a4\r\n"); }));
    server.send(":irc 730 alice :a1!u@h\r\n:irc 731 alice :a2\r\n:irc 303 alice :a4 a1\r\n");
    // a1 from MONITOR, a4 from ISON; ISON's word on a watched contact is not taken.
    ASSERT_TRUE(waitFor([&] { return items() == (QStringList{"a1", "a4"}); }));

    // The server takes fewer than it said: the refused one joins the ISON poll.
    server.send(":irc 734 alice 2 a2 :Monitor list is full\r\n");
    ASSERT_TRUE(waitFor([&] { return sentAfter("MONITOR C\r\n").contains("ISON a3 a4 a2\r\n"); }));
    server.send(":irc 303 alice :a2\r\n");
    ASSERT_TRUE(waitFor([&] { return items() == (QStringList{"a1", "a2"}); }));
}

TEST_F(PresenceSourcesTest, RefusedIsonLeavesPresenceUnknownAndStopsPolling)
{
    connectWith({"bob", "carol"});
    ASSERT_TRUE(waitFor([&] { return server.received().contains("ISON bob carol\r\n"); }));
    server.send(":irc 421 alice ISON :Unknown command\r\n");
    ASSERT_TRUE(waitFor([&] { return items().size() == 3; }));
    EXPECT_EQ(items(), (QStringList{kUnknown, "bob", "carol"}));
    // The contacts are still contacts; the hint is not.
    item(kUnknown)->setSelected(true);
    EXPECT_FALSE(core->contacts()->selectedContact());
    item("bob")->setSelected(true);
    EXPECT_EQ(core->contacts()->selectedContact(), QByteArray("bob"));

    core->run(Command::RemoveSelectedContact);
    EXPECT_EQ(items(), (QStringList{kUnknown, "carol"}));

    QTest::qWait(10500);
    EXPECT_EQ(server.received().count("ISON"), 1);
    EXPECT_EQ(debugText().count("refuses ISON"), 1);
}

// A dropped link leaves no one shown online on the word of a server we no longer hear; the
// status bar says when the next attempt comes, whole in its tooltip when the bar is too narrow.
TEST_F(PresenceSourcesTest, ALostLinkShowsContactsAsUnknownAndWhenTheNextAttemptComes)
{
    connectWith({"bob", "carol"});
    ASSERT_TRUE(waitFor([&] { return server.received().contains("ISON bob carol\r\n"); }));
    server.send(":irc 303 alice :bob\r\n");
    ASSERT_TRUE(waitFor([&] { return items() == QStringList{"bob"}; }));
    server.dropClient();
    ASSERT_TRUE(waitFor([&] { return items().size() == 3; }));
    EXPECT_EQ(items(), (QStringList{"Not connected: presence unknown", "bob", "carol"}));
    ASSERT_TRUE(waitFor([&] { return core->window().statusText().contains("Trying"); }));
    core->window().setStatusText(
        "Can't connect to any servers! Trying again at 10:42:32. And a long tail after it.");
    auto* bar = core->window().findChild<app::StatusLabel*>();
    ASSERT_NE(bar, nullptr);
    EXPECT_LT(bar->fontMetrics().horizontalAdvance(bar->text()), bar->contentsRect().width() + 1);
    EXPECT_TRUE(bar->text().endsWith(QChar(0x2026)));
    EXPECT_EQ(bar->toolTip(), core->window().statusText());
}

TEST_F(PresenceSourcesTest, RefusedMonitorFallsBackToIson)
{
    connectWith({"bob"});
    server.send(":irc 005 alice MONITOR :are supported\r\n");
    ASSERT_TRUE(waitFor([&] { return server.received().contains("MONITOR + bob\r\n"); }));
    server.send(":irc 421 alice MONITOR :Unknown command\r\n");
    ASSERT_TRUE(waitFor([&] { return sentAfter("MONITOR + bob\r\n").contains("ISON bob\r\n"); }));
    server.send(":irc 303 alice :bob\r\n");
    ASSERT_TRUE(waitFor([&] { return items() == QStringList{"bob"}; }));
    // And when ISON goes too, nothing is left.
    server.send(":irc 421 alice ISON :Unknown command\r\n");
    ASSERT_TRUE(waitFor([&] { return items() == (QStringList{kUnknown, "bob"}); }));
    EXPECT_EQ(debugText().count("refused MONITOR"), 1);
}

TEST_F(PresenceSourcesTest, NicksCompareAsTheServerFoldsThem)
{
    connectWith({"[a]", "bob"});
    server.send(":irc 005 alice MONITOR CASEMAPPING=rfc1459 :are supported\r\n");
    ASSERT_TRUE(waitFor([&] { return server.received().contains("MONITOR + [a],bob\r\n"); }));
    server.send(":irc 730 alice :{A}!u@h,BOB!b@h\r\n");
    ASSERT_TRUE(waitFor([&] { return items() == (QStringList{"BOB", "{A}"}); }));
    EXPECT_TRUE(core->contacts()->selectContact("[a]"));
    EXPECT_TRUE(core->contacts()->showsContact("bob"));
    // The selection stays through a rebuild that spells the nick another way.
    server.send(":irc 730 alice :{a}!u@h\r\n");
    ASSERT_TRUE(waitFor([&] { return item("{a}") != nullptr; }));
    EXPECT_TRUE(item("{a}")->isSelected());
}

TEST_F(PresenceSourcesTest, AsciiCaseMappingKeepsBracketsApart)
{
    connectWith({"[a]"});
    server.send(":irc 005 alice MONITOR CASEMAPPING=ascii :are supported\r\n");
    ASSERT_TRUE(waitFor([&] { return server.received().contains("MONITOR + [a]\r\n"); }));
    server.send(":irc 731 alice :[a]\r\n");
    ASSERT_TRUE(waitFor([&] { return items() == QStringList{"No Contacts Online"}; }));
    server.send(":irc 730 alice :{a}!u@h\r\n");
    ASSERT_TRUE(linesRead("after"));
    EXPECT_EQ(items(), QStringList{"No Contacts Online"});
    EXPECT_FALSE(core->contacts()->showsContact("{a}"));
}

TEST_F(PresenceSourcesTest, AServerThatOffersNothingNewIsPolledAsBefore)
{
    connectWith({"bob"});
    server.send(":irc 005 alice NICKLEN=9 CASEMAPPING=ascii :are supported\r\n");
    ASSERT_TRUE(waitFor([&] { return server.received().contains("ISON bob\r\n"); }));
    server.send(":irc 303 alice :bob\r\n");
    ASSERT_TRUE(waitFor([&] { return items() == QStringList{"bob"}; }));
    EXPECT_FALSE(server.received().contains("MONITOR"));
}
