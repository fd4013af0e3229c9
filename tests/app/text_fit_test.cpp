// Every window and dialog of the program, built on the offscreen platform in the system's own
// font (whatever fontconfig gives for the default "Sans Serif", DejaVu Sans on Debian), shown at
// the size it opens at: no label, button, check box or group title may be cut, and every control
// that shows only a picture must still tell a screen reader and a mouse pointer what it is.
//
// With KIVVO_GRAB_DIR set, each window's picture is saved there as fit_<name>.png to be looked
// at.
#include "app/command_table.h"
#include "config/connect_dialog.h"
#include "config/contact_editor.h"
#include "config/input_dialog.h"
#include "config/send_file_dialog.h"
#include "config/server_editor.h"
#include "config/settings_dialog.h"
#include "diag/debug_window.h"
#include "diag/raw_data_window.h"
#include "diag/server_log_window.h"
#include "peer/chat/chat_window.h"
#include "peer/common/session_record.h"
#include "peer/transfer/file_sender.h"
#include "peer/transfer/transfer_window.h"
#include "peer/voice/voice_window.h"
#include "tests/app/text_fit.h"
#include "tests/support/program_core.h"
#include "tests/support/scripted_host.h"
#include "tests/support/scripted_prompter.h"
#include "tests/support/scripted_sound.h"
#include "tests/support/temp_store.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QMessageBox>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <ostream>

namespace {

// What the windows need to exist: a store, a prompter, a chat host, a file being sent, and
// for the About box a whole program. Each maker takes what it needs from here.
struct Parts
{
    test::TempStore store;
    test::ScriptedPrompter prompter;
    test::ScriptedHost host;
    peer::ChatSession chat;
    QTemporaryDir files;
    std::unique_ptr<peer::FileSender> sender;
    std::unique_ptr<test::ProgramCore> program;
};

// A window and, when it is one the program opens at a size of its own, that size: text that
// does not fit must not get its room by stretching the window either.
struct Made
{
    QWidget* window = nullptr;
    std::optional<QSize> size = std::nullopt;
};

struct WindowMaker
{
    const char* name;
    std::function<Made(Parts&)> make;
};

void PrintTo(const WindowMaker& maker, std::ostream* out)
{
    *out << maker.name;
}

Made chatWindow(Parts& parts, bool encrypted)
{
    parts.chat.nick = "bob";
    parts.chat.serverRouted = !encrypted;
    parts.chat.mode = encrypted ? peer::ChatMode::Encrypted : peer::ChatMode::Relayed;
    parts.chat.keyInstalled = encrypted;
    auto* window = new peer::ChatWindow(parts.chat, parts.host);
    window->showLine("<bob> hello there\r\n");
    if (encrypted)
        window->showCiphertext("+OK 1eLQw/2CS1k0");
    return {window, QSize(peer::ChatWindow::kWidth, peer::ChatWindow::kHeight)};
}

Made transferWindow(Parts& parts)
{
    QFile file(parts.files.filePath("holiday photos.zip"));
    file.open(QIODevice::WriteOnly);
    file.write(QByteArray(4096, 'x'));
    file.close();
    parts.sender = std::make_unique<peer::FileSender>("bob", file.fileName(), false);
    parts.sender->open();
    auto* window = new peer::TransferWindow(*parts.sender);
    // As tall as its texts take at its width.
    return {window, QSize(360, window->height())};
}

Made voiceWindow(Parts&)
{
    auto* window = new peer::VoiceWindow("bob");
    window->showStatus(QStringLiteral("Waiting for bob to accept...\r\n"));
    return {window, QSize(284, 244)};
}

app::Program& program(Parts& parts)
{
    test::CoreOptions options;
    options.start = false;
    options.sound = std::make_shared<test::ScriptedSound>();
    parts.program = std::make_unique<test::ProgramCore>(options);
    return *parts.program->program;
}

// As the program opens it, with the program's own bar of commands above the conversation.
Made programChatWindow(Parts& parts)
{
    peer::ChatWindow* window = program(parts).chats().openChat("bob");
    return {window, QSize(peer::ChatWindow::kWidth, peer::ChatWindow::kHeight)};
}

Made aboutBox(Parts& parts)
{
    program(parts);
    parts.program->run(app::Command::About);
    const auto boxes = parts.program->window().findChildren<QMessageBox*>();
    return {boxes.isEmpty() ? nullptr : boxes.front()};
}

const WindowMaker kWindows[] = {
    {"ChatWindow", [](Parts& p) { return chatWindow(p, false); }},
    {"EncryptedChatWindow", [](Parts& p) { return chatWindow(p, true); }},
    {"ProgramChatWindow", programChatWindow},
    {"TransferWindow", transferWindow},
    {"VoiceWindow", voiceWindow},
    {"SettingsDialog",
     [](Parts& p) { return Made{new config::SettingsDialog(p.store.store(), p.prompter)}; }},
    {"ServerEditor",
     [](Parts& p) {
         p.store.store().AddServer({"irc.example.org", "ExampleNet", 6667});
         return Made{new config::ServerEditor(p.store.store(), p.prompter)};
     }},
    {"AddServerDialog", [](Parts& p) { return Made{new config::AddServerDialog(p.prompter)}; }},
    {"ConnectDialog",
     [](Parts& p) {
         p.store.store().AddServer({"irc.example.org", "ExampleNet", 6667});
         return Made{new config::ConnectDialog(p.store.store())};
     }},
    {"ContactEditor",
     [](Parts& p) {
         p.store.store().AddContact("bob");
         return Made{new config::ContactEditor(p.store.store(), p.prompter)};
     }},
    {"SendFileDialog",
     [](Parts& p) { return Made{new config::SendFileDialog("bob", p.prompter)}; }},
    {"InputDialog",
     [](Parts& p) {
         const config::InputRequest request{
             QStringLiteral("Please type the name of the contact you wish to add below:"),
             QStringLiteral("Add New Contact"), QString(), false};
         return Made{new config::InputDialog(request, p.prompter)};
     }},
    {"InputDialogWithBrowse",
     [](Parts& p) {
         const config::InputRequest request{QStringLiteral("File to send:"),
                                            QStringLiteral("Send a File"), QString(), true};
         return Made{new config::InputDialog(request, p.prompter)};
     }},
    {"DebugWindow",
     [](Parts&) {
         return Made{new diag::DebugWindow, QSize(520, 460)};
     }},
    {"ServerLogWindow",
     [](Parts&) {
         return Made{new diag::ServerLogWindow, QSize(500, 350)};
     }},
    {"RawDataWindow",
     [](Parts&) {
         return Made{new diag::RawDataWindow, QSize(460, 300)};
     }},
    {"AboutBox", aboutBox},
};

class TextFitTest : public ::testing::TestWithParam<WindowMaker>
{
protected:
    void SetUp() override
    {
        made = GetParam().make(parts);
        ASSERT_NE(made.window, nullptr);
        window = made.window;
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
        QApplication::processEvents();
    }
    void TearDown() override
    {
        // A program's windows go with the program.
        if (parts.program)
            parts.program.reset();
        else
            delete window.data();
    }

    Parts parts;
    Made made;
    QPointer<QWidget> window;
};

TEST(TextFitFont, IsTheSystemsOwnDefault)
{
    // Nothing here or in the program brings a font of its own: the sizes below are measured in
    // the font a Debian desktop draws these windows in, an installed family fontconfig chose.
    EXPECT_EQ(QApplication::font(), QFontDatabase::systemFont(QFontDatabase::GeneralFont));
    const QFontInfo info(QApplication::font());
    EXPECT_TRUE(QFontDatabase::families().contains(info.family())) << info.family().toStdString();
    RecordProperty(
        "font", QStringLiteral("%1 %2pt").arg(info.family()).arg(info.pointSizeF()).toStdString());
}

TEST_P(TextFitTest, ShowsEveryTextWholeAndNamesEveryPictureOnlyControl)
{
    if (const QByteArray dir = qgetenv("KIVVO_GRAB_DIR"); !dir.isEmpty()) {
        window->grab().save(
            QDir(QString::fromLocal8Bit(dir))
                .filePath(QStringLiteral("fit_%1.png").arg(QString::fromLatin1(GetParam().name))));
    }
    if (made.size) {
        EXPECT_EQ(window->size(), *made.size) << "the window was stretched to make room";
    }
    int checked = 0;
    EXPECT_EQ(test::cutTexts(window, &checked), QStringList());
    EXPECT_GT(checked, 0) << "no text found";
    EXPECT_EQ(test::unnamedPictures(window), QStringList());
}

INSTANTIATE_TEST_SUITE_P(Windows, TextFitTest, ::testing::ValuesIn(kWindows),
                         [](const ::testing::TestParamInfo<WindowMaker>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
