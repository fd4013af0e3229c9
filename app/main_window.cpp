#include "app/main_window.h"

#include "app/command_table.h"
#include "app/contact_list_view.h"
#include "diag/debug_window.h"
#include "diag/raw_data_window.h"
#include "diag/server_log_window.h"
#include "irc/line_tools.h"
#include "res/resources.h"

#include <QAction>
#include <QCloseEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMetaObject>
#include <QPixmap>
#include <QScreen>
#include <QStatusBar>

namespace app {

namespace {

constexpr char kNotConnected[] = "Not Connected.";

// The menus in order, built from the command table.
constexpr std::optional<Command> kSeparator;

struct MenuSpec
{
    const char* title;
    std::vector<std::optional<Command>> items; // nothing: a separator
};

const MenuSpec kMenus[] = {
    {"IRC",
     {Command::Connect, Command::Disconnect, kSeparator, Command::ProgramSettings, kSeparator,
      Command::Exit}},
    {"Server", {Command::EditServers, kSeparator, Command::SendRawData}},
    {"View", {Command::ShowServerLog, Command::ShowDebugWindow}},
    {"Contacts", {Command::EditContacts, Command::RemoveSelectedContact}},
    {"Help",
     {Command::Help, Command::HelpOnline, Command::SupportOnline, kSeparator, Command::About}},
};

const MenuSpec kContactPopup = {"User Popup",
                                {Command::Chat, Command::DccChat, Command::EncryptedChat,
                                 Command::VoiceChat, kSeparator, Command::SendFile, kSeparator,
                                 Command::Whois, Command::Ping, Command::Finger, Command::Time,
                                 Command::Version, Command::Source}};

void fill(QMenu* menu, const MenuSpec& spec, const CommandTable& commands)
{
    for (const std::optional<Command>& id : spec.items) {
        if (id)
            menu->addAction(commands.action(*id));
        else
            menu->addSeparator();
    }
}

void showWindow(QWidget* window)
{
    window->showNormal();
    window->raise();
}

} // namespace

MainWindow::MainWindow(CommandTable& commands, const diag::LineSender& sender, QWidget* parent)
    : QMainWindow(parent)
    , m_commands(commands)
    , m_sender(sender)
{
    res::initResources();
    setWindowTitle(irc::idleTitle());
    setFixedSize(kWidth, kHeight);
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowIcon(res::icon(QStringLiteral("CONTACT")));

    auto* central = new QWidget(this);
    m_contacts = new ContactListView(central);
    m_contacts->setGeometry(50, 10, 150, 265);
    // Room for the skinned user menu bar.
    auto* userMenuBar = new QWidget(central);
    userMenuBar->setObjectName(QStringLiteral("UserMenuBar"));
    userMenuBar->setGeometry(50, 280, 150, 25);
    setCentralWidget(central);

    m_status = new QLabel(QString::fromLatin1(kNotConnected), this);
    statusBar()->addWidget(m_status, 1);
    statusBar()->setSizeGripEnabled(false);

    m_commands.setHandler(Command::ShowServerLog, [this](auto&) { showWindow(serverLogWindow()); });
    m_commands.setHandler(Command::ShowDebugWindow, [this](auto&) { showWindow(debugWindow()); });
    m_commands.setHandler(Command::SendRawData, [this](auto&) { showWindow(rawDataWindow()); });
    m_commands.setHandler(Command::About, [this](auto&) { showAbout(); });
    buildMenus();
    centreOnScreen();
}

MainWindow::~MainWindow() = default;

diag::DebugWindow* MainWindow::debugWindow() const
{
    if (!m_debugWindow) {
        // It reads the panes the log has kept so far, so it shows what it would have shown.
        m_debugWindow = std::make_unique<diag::DebugWindow>();
        m_debugWindow->setSender(m_sender);
    }
    return m_debugWindow.get();
}

diag::ServerLogWindow* MainWindow::serverLogWindow() const
{
    // Made at the latest by the first server line, which comes only after a connection.
    if (!m_serverLog)
        m_serverLog = std::make_unique<diag::ServerLogWindow>();
    return m_serverLog.get();
}

diag::RawDataWindow* MainWindow::rawDataWindow() const
{
    if (!m_rawData) {
        m_rawData = std::make_unique<diag::RawDataWindow>();
        m_rawData->setSender(m_sender);
    }
    return m_rawData.get();
}

void MainWindow::buildMenus()
{
    for (const MenuSpec& spec : kMenus)
        fill(menuBar()->addMenu(tr(spec.title)), spec, m_commands);
    auto* popup = new QMenu(QString::fromLatin1(kContactPopup.title), this);
    fill(popup, kContactPopup, m_commands);
    m_contacts->setPopupMenu(popup);
}

void MainWindow::centreOnScreen()
{
    if (const QScreen* screen = this->screen()) {
        const QRect area = screen->geometry();
        move(area.x() + area.width() / 2 - kWidth / 2, area.y() + area.height() / 2 - kHeight / 2);
    }
}

void MainWindow::logServerLine(const QByteArray& line)
{
    const std::optional<QByteArray> word = irc::GetCommandWord(line);
    if (!word || !word->startsWith("303"))
        serverLogWindow()->appendLine(line);
}

QString MainWindow::statusText() const
{
    return m_status->text();
}

void MainWindow::setStatusText(const QString& text)
{
    m_status->setText(text);
}

void MainWindow::showLinkStatus(const irc::LinkStatus& status)
{
    setStatusText(irc::statusText(status));
}

void MainWindow::showNick(const QByteArray& nick)
{
    setWindowTitle(irc::connectedTitle(nick));
}

void MainWindow::showDisconnected()
{
    setWindowTitle(irc::idleTitle());
    m_contacts->clear();
}

void MainWindow::bringToFront()
{
    showNormal();
    raise();
    activateWindow();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    emit closeRequested();
    event->accept();
}

void MainWindow::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    // Minimised, the window leaves the task bar: only the tray icon remains.
    if (event->type() == QEvent::WindowStateChange && isMinimized())
        QMetaObject::invokeMethod(this, &QWidget::hide, Qt::QueuedConnection);
}

void MainWindow::showWhois(const QString& text)
{
    // Not modal: a box left open must not hold up the lines behind it.
    auto* box =
        new QMessageBox(QMessageBox::NoIcon, tr("Whois Reply"), text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void MainWindow::showCtcpReply(irc::CtcpCode code, const QString& title, const QString& text)
{
    // One box per kind: a flood of replies must not bury the screen in boxes.
    if (!m_replyBoxes.canShow(code))
        return;
    m_replyBoxes.markOpen(code);
    auto* box = new QMessageBox(QMessageBox::Information, title, text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QDialog::finished, this, [this, code] { m_replyBoxes.markClosed(code); });
    box->open();
}

void MainWindow::showAbout()
{
    auto* box =
        new QMessageBox(QMessageBox::NoIcon, tr("About"), irc::idleTitle(), QMessageBox::Ok, this);
    box->setIconPixmap(res::icon(QStringLiteral("CONTACT")).pixmap(32, 32));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
}

} // namespace app
