// File transfers through the whole program: the Send File commands, and offers from a peer
// taken up into the file the user chose.
#include "app/offer_inbox.h"
#include "peer/transfer/file_sender.h"
#include "peer/transfer/transfer_window.h"
#include "tests/support/connected_program.h"
#include "tests/support/env_guard.h"
#include "tests/support/files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

using app::Command;
using test::waitFor;

namespace {

class TransferTest : public test::ConnectedProgramTest
{
protected:
    void SetUp() override
    {
        test::CoreOptions options;
        options.contacts = {"bob", "carol"};
        connect(options);
        prompter = core->prompter;
        ASSERT_TRUE(showOnline({"bob", "carol"}));
    }
    QString write(const QString& name, const QByteArray& data)
    {
        return test::writeFile(dir, name, data);
    }
    static QByteArray read(const QString& path) { return test::readFile(path); }
    // Bob offers `size` bytes as `name` from a listening socket of the test's own.
    void offerFromBob(QTcpServer& listener, const QByteArray& name, qsizetype size)
    {
        ConnectedProgramTest::offerFromBob(listener, "SEND \"" + name + '"',
                                           ' ' + QByteArray::number(size));
    }
    // Serves `data` to whoever connects to `listener`, acknowledgements unread, until the newest
    // transfer ends.
    bool serve(QTcpServer& listener, const QByteArray& data)
    {
        if (!waitFor([&] { return listener.hasPendingConnections(); }))
            return false;
        QTcpSocket* peerSide = listener.nextPendingConnection();
        peerSide->write(data);
        const peer::Transfers& transfers = core->program->transfers();
        return waitFor([&] {
            return transfers.count() > 0 && transfers.at(transfers.count() - 1)->isFinished();
        });
    }

    QTemporaryDir dir;
    test::ScriptedPrompter* prompter = nullptr;
};

} // namespace

TEST_F(TransferTest, AnExistingFileIsReplacedOnlyWhenTheUserSaysSoAndThenWrittenFresh)
{
    for (const bool replace : {false, true}) {
        SCOPED_TRACE(replace ? "replaced" : "kept");
        const QString existing = write("existing.txt", "a longer file that was there before");
        const QString other = dir.filePath("other.txt");
        prompter->questions.clear();
        prompter->requests.clear();
        prompter->answers = {true, replace};
        prompter->inputs = {existing, other};
        QTcpServer bob;
        offerFromBob(bob, "existing.txt", 3);
        ASSERT_TRUE(serve(bob, "new"));
        ASSERT_EQ(prompter->questions.size(), 2u);
        EXPECT_EQ(prompter->questions[1].title, "Replace File?");
        EXPECT_EQ(read(existing), replace ? "new" : "a longer file that was there before");
        if (!replace) {
            // No returns to the destination prompt, with the name the user had chosen.
            ASSERT_EQ(prompter->requests.size(), 2u);
            EXPECT_EQ(prompter->requests[1].text, existing);
            EXPECT_EQ(read(other), "new");
        }
    }
}

// The download folder was made as soon as an offer proposed it, even one the user declined.
TEST_F(TransferTest, TheDownloadFolderIsMadeOnlyForAFileTheUserKeepsInIt)
{
    test::EnvGuard home("HOME", dir.path().toUtf8());
    test::EnvGuard configHome("XDG_CONFIG_HOME", dir.filePath("config").toUtf8());
    const QString folder = dir.filePath("Downloads");
    // Cancelled at the prompt, then the proposed name confirmed.
    prompter->answers = {true, true};
    prompter->inputs = {std::nullopt, folder + "/photo.jpg"};
    QTcpServer bob;
    offerFromBob(bob, "photo.jpg", 10);
    const bool asked = waitFor([&] { return prompter->requests.size() == 1; });
    const bool madeEarly = QDir(folder).exists();
    QTcpServer again;
    offerFromBob(again, "photo.jpg", 10);
    ASSERT_TRUE(asked);
    EXPECT_EQ(prompter->requests[0].text, folder + "/photo.jpg");
    EXPECT_FALSE(madeEarly);
    ASSERT_TRUE(waitFor([&] { return core->program->transfers().count() == 1; }));
    EXPECT_TRUE(QDir(folder).exists());
    EXPECT_TRUE(QFile::exists(folder + "/photo.jpg.part"));
}

// The question named the file but not how big it was. The edit box held 255 characters, so a
// longer destination was saved under a cut name.
TEST_F(TransferTest, TheFileQuestionGivesTheSizeAndTheDestinationPromptTakesAWholePath)
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    prompter->answers = {true};
    QTcpServer bob;
    offerFromBob(bob, QByteArray(250, 'n'), 12345678);
    ASSERT_TRUE(waitFor([&] { return prompter->requests.size() == 1; }));
    QLocale::setDefault(saved);
    EXPECT_EQ(prompter->questions[0].title, "Accept File?");
    EXPECT_EQ(prompter->questions[0].text, "User \"bob\" wants to send you a file named \""
                                               + QString(250, 'n') + "\".  Do you want to accept?");
    EXPECT_TRUE(prompter->questions[0].informative.startsWith("12.3 MB (12,345,678 bytes)\n"))
        << prompter->questions[0].informative.toStdString();
    EXPECT_TRUE(prompter->questions[0].informative.contains("Address: 127.0.0.1, port "));
    const config::InputRequest& request = prompter->requests[0];
    EXPECT_EQ(request.title, "Save Incoming File");
    EXPECT_EQ(request.prompt, "Please enter a destination filename for the incoming file:");
    EXPECT_TRUE(request.showBrowse);
    EXPECT_TRUE(request.text.endsWith("/" + QString(250, 'n')));
    EXPECT_EQ(request.maxLength, config::kPathTextLimit);
}

TEST_F(TransferTest, OfferedNamesAreProposedWithoutHiddenOrControlCharacters)
{
    const struct
    {
        QByteArray offered;
        QString proposed;
    } cases[] = {
        {".bashrc", "_bashrc"},
        {"../../.ssh/authorized_keys", "authorized_keys"},
        {"..hidden", "__hidden"},
        // U+202E would show "photo\u202Egpj.exe" as "photoexe.jpg".
        {"photo\xe2\x80\xaegpj.exe", "photo_gpj.exe"},
        {"next\xc2\x85line", "next_line"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.offered.toStdString());
        prompter->requests.clear();
        prompter->answers = {true};
        QTcpServer bob;
        offerFromBob(bob, c.offered, 10);
        ASSERT_TRUE(waitFor([&] { return prompter->requests.size() == 1; }));
        EXPECT_EQ(QFileInfo(prompter->requests[0].text).fileName(), c.proposed);
        EXPECT_FALSE(prompter->requests[0].text.contains("..")) << "out of the download folder";
        EXPECT_TRUE(prompter->questions.back().text.contains("\"" + c.proposed + "\""));
    }
}

// A folder (or a pipe, a device) chosen as the destination failed with a vague text, or was
// written to.
TEST_F(TransferTest, ADestinationThatIsNoFileIsRefusedAndTheFileReceivedIntoTheNextOne)
{
    const QString folder = dir.filePath("a folder");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString target = dir.filePath("fine.txt");
    prompter->answers = {true};
    prompter->inputs = {folder, target};
    QTcpServer bob;
    offerFromBob(bob, "fine.txt", 4);
    ASSERT_TRUE(serve(bob, "data"));
    ASSERT_EQ(prompter->errors.size(), 1u);
    EXPECT_EQ(prompter->errors[0].title, "Error");
    EXPECT_EQ(prompter->errors[0].text,
              peer::errorText(peer::TransferError::DestinationNotAFile, folder));
    ASSERT_EQ(prompter->requests.size(), 2u);
    EXPECT_EQ(prompter->requests[1].text, folder);
    EXPECT_EQ(prompter->questions.size(), 1u); // no "Replace File?" for a folder
    EXPECT_EQ(read(target), "data");
    peer::Transfer* transfer = core->program->transfers().at(0);
    EXPECT_EQ(transfer->status(), peer::Transfer::Status::Complete);
    EXPECT_EQ(core->program->transfers().windowOf(transfer)->button()->text(), "Close");
}

TEST_F(TransferTest, SendFileOffersAFileItCanReadToTheSelectionOrTheChatsPeer)
{
    const QByteArray data(3000, 'd');
    const QString path = write("report.pdf", data);
    // Nothing selected: nothing is asked.
    core->run(Command::SendFile);
    EXPECT_TRUE(prompter->sendFileNicks.empty());
    core->contacts()->selectContact("carol");
    // A file that cannot be read is said, and nothing offered.
    prompter->filesToSend = {config::FileToSend{"carol", dir.filePath("missing.bin")}};
    core->run(Command::SendFile);
    EXPECT_EQ(prompter->errors,
              (std::vector<test::Box>{{"Error", "Cannot open the file you specified"}}));
    EXPECT_FALSE(server.received().contains("DCC SEND"));
    prompter->filesToSend = {config::FileToSend{"bob", path}}; // the user typed another nick
    core->run(Command::SendFile);
    EXPECT_EQ(prompter->sendFileNicks, (std::vector<QString>{"carol", "carol"}));
    const quint16 port = offeredPort("bob", "SEND \"report\\.pdf\" 2130706433");
    ASSERT_NE(port, 0) << server.received().toStdString();
    EXPECT_TRUE(server.received().contains("PRIVMSG bob :\x01"
                                           "DCC SEND \"report.pdf\" 2130706433 "
                                           + QByteArray::number(port) + " 3000\x01\r\n"));
    QTcpSocket bob;
    bob.connectToHost(QHostAddress::LocalHost, port);
    ASSERT_TRUE(waitFor([&] { return bob.bytesAvailable() >= 1024; }));
    EXPECT_EQ(bob.read(1024), data.left(1024));

    // From a chat window: its peer, whatever is selected.
    server.send(":carol!c@h PRIVMSG alice :hi\r\n");
    ASSERT_TRUE(waitFor([&] { return core->chat(0) != nullptr; }));
    core->contacts()->selectContact("bob");
    prompter->filesToSend = {std::nullopt}; // cancelled
    EXPECT_TRUE(core->program->commands().run(Command::SendFileTo, QByteArray("carol")));
    EXPECT_EQ(prompter->sendFileNicks, (std::vector<QString>{"carol", "carol", "carol"}));
    EXPECT_EQ(core->program->transfers().count(), 1);
}

// A 300 MB transfer broke at Exit without a word.
TEST_F(TransferTest, ExitWhileATransferRunsAsksFirstNamingItAndNoKeepsItRunning)
{
    QSignalSpy closed(core->program.get(), &app::Program::closeStepDone);
    const QByteArray data(3000, 'd');
    core->contacts()->selectContact("bob");
    prompter->filesToSend = {config::FileToSend{"bob", write("report.pdf", data)}};
    core->run(Command::SendFile);
    const quint16 port = offeredPort("bob", "SEND \"report\\.pdf\" 2130706433");
    ASSERT_NE(port, 0);
    QTcpSocket bob;
    bob.connectToHost(QHostAddress::LocalHost, port);
    ASSERT_TRUE(waitFor([&] { return bob.bytesAvailable() >= 1024; }));
    bob.write(QByteArray::fromHex("00000400"));
    ASSERT_TRUE(waitFor([&] { return bob.bytesAvailable() >= 2048; }));
    const peer::Transfer* transfer = core->program->transfers().at(0);
    ASSERT_TRUE(waitFor([&] { return transfer->count() == 1024; }));

    const test::Box asked{"Exit Kivvo?",
                          "Exiting now ends:\n- the transfer of \"report.pdf\" with bob (34%)\n\n"
                          "Exit anyway?"};
    // From the menu, and from the close box: No (the default) keeps everything running.
    core->run(Command::Exit);
    window().close();
    EXPECT_EQ(prompter->questions, (std::vector<test::Box>{asked, asked}));
    EXPECT_EQ(closed.count(), 0);
    EXPECT_FALSE(transfer->isFinished());
    EXPECT_TRUE(window().isVisible());
    // Yes ends it, and the program with it.
    prompter->answers = {true};
    core->run(Command::Exit);
    EXPECT_EQ(closed.count(), 1);
}
