// The command line: the whole line decides, case-sensitively, and --help and --version answer
// without a display.
#include "app/command_line.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using app::parseCommandLine;
using app::StartMode;

TEST(CommandLine, DecidesOnTheWholeLine)
{
    const std::pair<QStringList, StartMode> cases[] = {
        {{}, StartMode::Normal},
        {{"HIDE"}, StartMode::Hidden},
        {{"DEBUG"}, StartMode::DebugDump},
        {{"--help"}, StartMode::Help},
        {{"-h"}, StartMode::Help},
        {{"--version"}, StartMode::Version},
        // Case matters, and the words are not options: nothing but the exact word counts.
        {{"hide"}, StartMode::Normal},
        {{"Debug"}, StartMode::Normal},
        {{"--HELP"}, StartMode::Normal},
        {{"-v"}, StartMode::Normal},
        {{"--hide"}, StartMode::Normal},
        // They cannot be combined, in either order or with anything else.
        {{"HIDE", "DEBUG"}, StartMode::Normal},
        {{"DEBUG", "HIDE"}, StartMode::Normal},
        {{"HIDE", "HIDE"}, StartMode::Normal},
        {{"--help", "--version"}, StartMode::Normal},
        {{"HIDE", "--help"}, StartMode::Normal},
        {{"--help", "me"}, StartMode::Normal},
        // The joined line is what is compared: an argument holding the blanks matches the same.
        {{"HIDE DEBUG"}, StartMode::Normal},
        {{"HI", "DE"}, StartMode::Normal},
        {{"HIDE "}, StartMode::Normal},
        {{"DEBUG", ""}, StartMode::Normal},
        {{""}, StartMode::Normal},
        {{"--foo"}, StartMode::Normal},
    };
    for (const auto& [arguments, mode] : cases)
        EXPECT_EQ(parseCommandLine(arguments), mode) << arguments.join('|').toStdString();
    // Only help and version are printed instead of starting.
    for (StartMode mode : {StartMode::Normal, StartMode::Hidden, StartMode::DebugDump})
        EXPECT_FALSE(app::printInformation(mode)) << int(mode);
}

TEST(CommandLine, UsageNamesTheWordsOptionsAndEnvironment)
{
    const QString usage = app::usageText();
    for (const char* word :
         {"HIDE", "DEBUG", "--help", "-h", "--version", "XDG_CONFIG_HOME", "XDG_DATA_HOME",
          "KIVVO_IDENT_PORT", "KIVVO_NO_KEYCHAIN", "KIVVO_WINDOW_POSITION", "out.txt", "113"})
        EXPECT_TRUE(usage.contains(QLatin1String(word))) << word;
    EXPECT_TRUE(usage.endsWith(QLatin1Char('\n')));
}

TEST(CommandLine, TheWindowPositionIsTwoNumbersWithRoomForTheTitleBar)
{
    const struct
    {
        const char* text;
        std::optional<QPoint> expected;
    } cases[] = {
        {"40,60", QPoint(40, 60)},  {" 300 , 19 ", QPoint(300, 19)},
        {"0,19", QPoint(0, 19)},    {"0,18", std::nullopt}, // the title bar would leave the screen
        {"-5,60", std::nullopt},    {"40", std::nullopt},
        {"40,60,80", std::nullopt}, {"x,60", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(app::windowPositionFrom(QString::fromLatin1(c.text)), c.expected) << c.text;
}

// The built program, with no display of any kind: it must answer and exit before Qt looks for
// one, and must not have made a configuration on the way.
struct ProgramRun
{
    int exitCode = -1;
    QProcess::ExitStatus status = QProcess::CrashExit;
    QByteArray out;
    QByteArray err;
};

ProgramRun runProgram(const QStringList& arguments, const QString& home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QLatin1String(name));
    env.insert("HOME", home);
    env.insert("XDG_CONFIG_HOME", home + "/config");
    env.insert("XDG_DATA_HOME", home + "/data");
    QProcess program;
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(home);
    program.start(KIVVO_BINARY, arguments);
    ProgramRun run;
    if (!program.waitForStarted(5000) || !program.waitForFinished(10000)) {
        program.kill();
        program.waitForFinished(2000);
        return run;
    }
    run.exitCode = program.exitCode();
    run.status = program.exitStatus();
    run.out = program.readAllStandardOutput();
    run.err = program.readAllStandardError();
    return run;
}

class ProgramWithoutDisplay : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_home.isValid()); }

    void expectNothingMade() const
    {
        EXPECT_TRUE(QDir(m_home.path())
                        .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)
                        .isEmpty());
    }

    QTemporaryDir m_home;
};

TEST_F(ProgramWithoutDisplay, PrintsTheVersionAndTheUsageForBothSpellings)
{
    const struct
    {
        const char* option;
        QByteArray out;
    } cases[] = {
        {"--version", "Kivvo v2.0\n"},
        {"--help", app::usageText().toLocal8Bit()},
        {"-h", app::usageText().toLocal8Bit()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.option);
        const ProgramRun run = runProgram({QLatin1String(c.option)}, m_home.path());
        EXPECT_EQ(run.status, QProcess::NormalExit);
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        EXPECT_EQ(run.out, c.out);
        EXPECT_TRUE(run.err.isEmpty()) << run.err.toStdString();
    }
    EXPECT_TRUE(app::usageText().startsWith("Usage: kivvo"));
    expectNothingMade();
}

} // namespace
