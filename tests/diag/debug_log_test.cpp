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

struct GrowthCase
{
    const char* name;
    int minLength;
    int spread; // line i is minLength + i % spread characters of text
};

class BoundedPaneGrowth : public ::testing::TestWithParam<GrowthCase>
{};

TEST_P(BoundedPaneGrowth, KeepsTheNewestWholeLinesWithinTheLimit)
{
    const GrowthCase& c = GetParam();
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

INSTANTIATE_TEST_SUITE_P(Lines, BoundedPaneGrowth,
                         ::testing::Values(GrowthCase{"Short", 0, 7},
                                           GrowthCase{"Medium", 200, 333},
                                           GrowthCase{"NearHalf", 2000, 100},
                                           GrowthCase{"NearLimit", 4000, 88}),
                         [](const auto& info) { return std::string(info.param.name); });

struct LongLineCase
{
    int length;
    bool keepsEarlier;
};

class BoundedPaneLongLine : public ::testing::TestWithParam<LongLineCase>
{};

TEST_P(BoundedPaneLongLine, HoldsTheTailOfALineTooLongToShareThePane)
{
    const LongLineCase& c = GetParam();
    BoundedPane pane;
    pane.append(QStringLiteral("earlier"));
    QString line;
    for (int i = 0; i < c.length; ++i)
        line += QChar(u'a' + i % 26);
    pane.append(line);

    const QString whole = line + QStringLiteral("\r\n");
    EXPECT_LE(pane.text().size(), kLimit);
    EXPECT_EQ(pane.text().contains(QStringLiteral("earlier")), c.keepsEarlier);
    EXPECT_EQ(pane.text(),
              whole.right(std::min<qsizetype>(whole.size(), kLimit))
                  .prepend(c.keepsEarlier ? QStringLiteral("earlier\r\n") : QString()));
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, BoundedPaneLongLine,
    ::testing::Values(LongLineCase{kLimit - 11, true}, LongLineCase{kLimit - 10, false},
                      LongLineCase{kLimit - 2, false}, LongLineCase{kLimit - 1, false},
                      LongLineCase{kLimit, false}, LongLineCase{3 * kLimit, false}));

TEST(BoundedPane, TakesALineAfterAnOverlongOne)
{
    BoundedPane pane;
    pane.append(QString(2 * kLimit, QLatin1Char('z')));
    pane.append(QStringLiteral("after"));
    // The overlong line filled the pane on its own, so it goes whole to make room.
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

    EXPECT_EQ(DebugPanes::instance().text(Pane::Status),
              QStringLiteral("to status\r\nstatus again\r\n"));
    EXPECT_EQ(DebugPanes::instance().text(Pane::Info), QStringLiteral("to info\r\n"));
    ASSERT_EQ(spy.count(), 3);
    EXPECT_EQ(spy.at(1).at(0).value<Pane>(), Pane::Info);
    EXPECT_EQ(spy.at(1).at(1).toString(), QStringLiteral("to info"));
    EXPECT_EQ(spy.at(2).at(0).value<Pane>(), Pane::Status);
}

TEST_F(DebugLogTest, OtherPaneNumbersChangeNothing)
{
    diag::DebugLog(QStringLiteral("kept"), 1);
    diag::DebugLog(QStringLiteral("kept"), 2);
    QSignalSpy spy(&DebugPanes::instance(), &DebugPanes::appended);
    for (const int pane : {3, 0, -1, 100})
        diag::DebugLog(QStringLiteral("lost"), pane);

    EXPECT_EQ(spy.count(), 0);
    EXPECT_EQ(DebugPanes::instance().text(Pane::Status), QStringLiteral("kept\r\n"));
    EXPECT_EQ(DebugPanes::instance().text(Pane::Info), QStringLiteral("kept\r\n"));
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
