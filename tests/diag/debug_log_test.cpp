#include "diag/debug_log.h"

#include <QSignalSpy>
#include <QStringList>
#include <gtest/gtest.h>

namespace {

using diag::BoundedPane;
using diag::DebugPanes;
using diag::Pane;

constexpr int kLimit = BoundedPane::kLimit;

// The newest lines that fit in the pane together, oldest first, each with its CR LF.
QString newestThatFit(const QStringList& lines)
{
    QString kept;
    for (qsizetype i = lines.size() - 1; i >= 0; --i) {
        const QString line = lines.at(i) + QStringLiteral("\r\n");
        if (kept.size() + line.size() > kLimit)
            break;
        kept.prepend(line);
    }
    return kept;
}

TEST(BoundedPane, KeepsTheNewestWholeLinesWithinTheLimit)
{
    const struct
    {
        const char* name;
        int minLength;
        int spread; // line i is minLength + i % spread characters of text
    } cases[] = {
        {"short", 0, 7}, {"medium", 200, 333}, {"near half", 2000, 100}, {"near limit", 4000, 88}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BoundedPane pane;
        QStringList all;
        for (int i = 0; i < 10000; ++i) {
            QString line = QStringLiteral("#%1 ").arg(i);
            line += QString(c.minLength + i % c.spread, QLatin1Char('x'));
            all.push_back(line);
            pane.append(line);
            ASSERT_LE(pane.text().size(), kLimit) << "after line " << i;
            ASSERT_TRUE(pane.text().endsWith(line + QStringLiteral("\r\n"))) << "after line " << i;
        }
        EXPECT_EQ(pane.text(), newestThatFit(all));
    }
}

TEST(BoundedPane, HoldsTheTailOfALineTooLongToShareThePane)
{
    const std::pair<int, bool> cases[] = {{kLimit - 11, true}, {kLimit - 10, false},
                                          {kLimit - 2, false}, {kLimit - 1, false},
                                          {kLimit, false},     {3 * kLimit, false}};
    for (const auto& [length, keepsEarlier] : cases) {
        SCOPED_TRACE(length);
        BoundedPane pane;
        pane.append(QStringLiteral("earlier"));
        QString line;
        for (int i = 0; i < length; ++i)
            line += QChar(u'a' + i % 26);
        pane.append(line);
        const QString whole = line + QStringLiteral("\r\n");
        EXPECT_LE(pane.text().size(), kLimit);
        EXPECT_EQ(pane.text(),
                  whole.right(std::min<qsizetype>(whole.size(), kLimit))
                      .prepend(keepsEarlier ? QStringLiteral("earlier\r\n") : QString()));
    }
    // A line that filled the pane on its own goes whole to make room for the next.
    BoundedPane pane;
    pane.append(QString(2 * kLimit, QLatin1Char('z')));
    pane.append(QStringLiteral("after"));
    EXPECT_EQ(pane.text(), QStringLiteral("after\r\n"));
}

class DebugLogTest : public ::testing::Test
{
protected:
    void SetUp() override { DebugPanes::instance().clear(); }
    void TearDown() override { DebugPanes::instance().clear(); }
};

TEST_F(DebugLogTest, WritesToTheNamedPaneAndAnnouncesIt)
{
    QSignalSpy spy(&DebugPanes::instance(), &DebugPanes::appended);
    diag::DebugLog(QStringLiteral("to status"));
    diag::DebugLog(QStringLiteral("to info"), 2);
    diag::DebugLog(QStringLiteral("status again"), 1);
    for (const int pane : {3, 0, -1, 100})
        diag::DebugLog(QStringLiteral("lost"), pane); // no such pane: changes nothing

    EXPECT_EQ(DebugPanes::instance().text(Pane::Status),
              QStringLiteral("to status\r\nstatus again\r\n"));
    EXPECT_EQ(DebugPanes::instance().text(Pane::Info), QStringLiteral("to info\r\n"));
    ASSERT_EQ(spy.count(), 3);
    EXPECT_EQ(spy.at(1).at(0).value<Pane>(), Pane::Info);
    EXPECT_EQ(spy.at(1).at(1).toString(), QStringLiteral("to info"));
    EXPECT_EQ(spy.at(2).at(0).value<Pane>(), Pane::Status);
}

// The old window stopped taking lines for good once a pane passed 3840 characters.
TEST_F(DebugLogTest, PanesKeepTakingLinesPastTheOldCutOff)
{
    for (int i = 0; i < 100; ++i)
        diag::DebugLog(QStringLiteral("status filler %1 ").arg(i) + QString(40, QLatin1Char('s')));
    ASSERT_GT(DebugPanes::instance().text(Pane::Status).size(), 3840);
    for (int i = 0; i < 100; ++i)
        diag::DebugLog(QStringLiteral("info filler %1 ").arg(i) + QString(40, QLatin1Char('i')), 2);

    diag::DebugLog(QStringLiteral("latest status error"), 1);
    diag::DebugLog(QStringLiteral("latest info error"), 2);
    EXPECT_TRUE(DebugPanes::instance()
                    .text(Pane::Status)
                    .endsWith(QStringLiteral("latest status error\r\n")));
    EXPECT_TRUE(
        DebugPanes::instance().text(Pane::Info).endsWith(QStringLiteral("latest info error\r\n")));
    EXPECT_LE(DebugPanes::instance().text(Pane::Status).size(), BoundedPane::kLimit);
    EXPECT_LE(DebugPanes::instance().text(Pane::Info).size(), BoundedPane::kLimit);
}

} // namespace
