#include "app/main_window.h"

#include "app/client_area.h"
#include "app/command_table.h"
#include "app/contact_list_view.h"
#include "app/held_chats_entry.h"
#include "app/main_menu_bar.h"
#include "app/menu_bar.h"
#include "app/status_label.h"
#include "app/texts.h"
#include "diag/control_escape.h"
#include "diag/debug_window.h"
#include "diag/raw_data_window.h"
#include "diag/server_log_window.h"
#include "diag/server_text.h"
#include "irc/ctcp_service.h"
#include "irc/message_parts.h"
#include "irc/presence_poller.h"
#include "irc/server_events.h"
#include "irc/server_link.h"
#include "res/resources.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMetaObject>
#include <QPainter>
#include <QScreen>
#include <QStatusBar>
#include <QVBoxLayout>

namespace app {

namespace {

// The menus in order, built from the command table.
constexpr std::optional<Command> kSeparator;

struct MenuSpec
{
    const char* title;
    std::vector<std::optional<Command>> items; // nothing: a separator
};

const MenuSpec kMenus[] = {
    {text::kMenuIrc,
     {Command::Connect, Command::Disconnect, kSeparator, Command::ProgramSettings, kSeparator,
      Command::Exit}},
    {text::kMenuServer, {Command::EditServers, kSeparator, Command::SendRawData}},
    {text::kMenuView,
     {Command::Find, kSeparator, Command::ShowServerLog, Command::ShowDebugWindow}},
    {text::kMenuContacts, {Command::EditContacts, Command::RemoveSelectedContact}},
    {text::kMenuHelp,
     {Command::Help, Command::HelpOnline, Command::SupportOnline, kSeparator, Command::About}},
};

const MenuSpec kContactPopup = {text::kUserPopup,
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

constexpr QRect kContactsArea(50, 10, 150, 265);
constexpr int kHeldEntryHeight = 20;

constexpr QRgb kBorder = qRgb(0x3a, 0x46, 0x52);

QIcon programIcon()
{
    QIcon icon;
    for (const char* name : {"CHATWNDICON", "KIVVOICON"})
        icon.addPixmap(res::icon(QString::fromLatin1(name)).pixmap(name[0] == 'C' ? 16 : 32));
    return icon;
}

} // namespace

MainWindow::MainWindow(CommandTable& commands, const diag::LineSender& sender, const SkinSet& skins,
                       TitleBar::Mode titleMode, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::FramelessWindowHint)
    , m_commands(commands)
    , m_sender(sender)
{
    res::initResources();
    setWindowTitle(irc::idleTitle());
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowIcon(programIcon());
    // The skins darken this light grey; the one-pixel border is painted around it.
    QPalette light = palette();
    light.setColor(QPalette::Window, QColor(kSkinBackground));
    setPalette(light);
    setAutoFillBackground(true);
    setContentsMargins(1, 1, 1, 1);

    m_client = new ClientArea(skins.side, *this);
    m_contacts = new ContactListView(m_client);
    m_contacts->setGeometry(kContactsArea);
    m_held = new HeldChatsEntry(m_client);
    m_held->setGeometry(kContactsArea.x(), kContactsArea.bottom() + 1 - kHeldEntryHeight,
                        kContactsArea.width(), kHeldEntryHeight);
    connect(m_held, &HeldChatsEntry::chosen, this, &MainWindow::heldChatRequested);
    setCentralWidget(m_client);

    m_status = new StatusLabel(QString::fromLatin1(text::kNotConnected), this);
    statusBar()->addWidget(m_status, 1);
    statusBar()->setSizeGripEnabled(false);

    m_commands.setHandler(Command::ShowServerLog, [this](auto&) { showWindow(serverLogWindow()); });
    m_commands.setHandler(Command::ShowDebugWindow, [this](auto&) { showWindow(debugWindow()); });
    m_commands.setHandler(Command::SendRawData, [this](auto&) { showWindow(rawDataWindow()); });
    m_commands.setHandler(Command::About, [this](auto&) { showAbout(); });
    buildBars(skins, titleMode);
    buildMenus();
    setFixedSize(kWidth,
                 titleMode == TitleBar::Mode::Embedded ? kHeight + kTitleBarHeight : kHeight);
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

void MainWindow::buildBars(const SkinSet& skins, TitleBar::Mode titleMode)
{
    m_mainMenu = new MainMenuBar(skins.mainMenu, this);
    m_titleBar = new TitleBar(skins.title, titleMode, this);
    if (titleMode == TitleBar::Mode::Embedded) {
        // The system moves the window; the caption is its top row.
        auto* top = new QWidget(this);
        auto* layout = new QVBoxLayout(top);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        m_titleBar->setFixedWidth(kWidth - 2);
        layout->addWidget(m_titleBar);
        layout->addWidget(m_mainMenu);
        setMenuWidget(top);
    } else {
        setMenuBar(m_mainMenu);
        connect(m_titleBar, &TitleBar::dragStarted, this, [this] { setSkinPainting(false); });
        connect(m_titleBar, &TitleBar::dragMoved, this, &MainWindow::followDrag);
        connect(m_titleBar, &TitleBar::dragFinished, this, [this](bool moved) {
            setSkinPainting(true);
            if (moved)
                m_client->update();
        });
    }
    connect(m_titleBar, &TitleBar::minimiseRequested, this, &QWidget::showMinimized);
    connect(m_titleBar, &TitleBar::closeRequested, this, &QWidget::close);

    auto* ctcp = new QMenu(tr(text::kCtcpPopup), this);
    for (Command id : {Command::Whois, Command::Ping, Command::Finger, Command::Time,
                       Command::Version, Command::Source})
        ctcp->addAction(m_commands.action(id));
    MenuBar::Targets targets;
    targets.chat = m_commands.action(Command::RelayedChat);
    targets.sendFile = m_commands.action(Command::SendFileTo);
    targets.voiceChat = m_commands.action(Command::VoiceChat);
    targets.encryptedChat = m_commands.action(Command::EncryptedChat);
    targets.ctcp = ctcp;
    m_userMenu = new MenuBar(QStringLiteral("UserMenuBar"), skins.userMenu, targets,
                             MenuBar::Edge::None, m_client);
    m_userMenu->setGeometry(50, 280, 150, 25);
}

void MainWindow::setSkinPainting(bool on)
{
    m_skinPainting = on;
}

void MainWindow::followDrag(QPoint position)
{
    // The menu bar keeps its picture through the move; the rest is painted plain until the
    // window is put down.
    m_mainMenu->repaint();
    move(position);
    m_client->update();
    placeTitleBar();
}

void MainWindow::placeTitleBar()
{
    if (m_titleBar->mode() == TitleBar::Mode::Separate)
        m_titleBar->move(titleBarPosition(frameGeometry()));
}

void MainWindow::buildMenus()
{
    for (const MenuSpec& spec : kMenus)
        fill(m_mainMenu->addMenu(tr(spec.title)), spec, m_commands);
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

void MainWindow::logServerLine(QByteArrayView line, const irc::Message* message)
{
    // The presence poll's answers would bury everything else. Read as the line was always read
    // here: a tagged line is never one of them.
    if (!message || !message->command.startsWith("303") || !irc::isActedOn(*message, {}))
        serverLogWindow()->appendLine(line);
}

QString MainWindow::statusText() const
{
    return m_status->fullText();
}

void MainWindow::setStatusText(const QString& text)
{
    m_status->setFullText(text);
}

void MainWindow::showLinkStatus(const irc::LinkStatus& status)
{
    setStatusText(irc::statusText(status));
}

void MainWindow::showNick(const QByteArray& nick)
{
    setWindowTitle(irc::connectedTitle(nick));
    m_titleBar->setNick(diag::escapeControls(diag::decodeServerText(nick)));
}

void MainWindow::showDisconnected()
{
    setWindowTitle(irc::idleTitle());
    m_titleBar->setNick({});
    m_contacts->clear();
}

void MainWindow::bringToFront()
{
    showNormal();
    raise();
    activateWindow();
    setFocus();
}

void MainWindow::flash()
{
    QApplication::alert(this);
}

void MainWindow::showHeldChats(const QList<QByteArray>& nicks)
{
    m_held->showNicks(nicks);
    // The entry takes the bottom of the contact list while it is there.
    m_contacts->setGeometry(
        kContactsArea.adjusted(0, 0, 0, nicks.isEmpty() ? 0 : -(kHeldEntryHeight + 2)));
}

void MainWindow::paintEvent(QPaintEvent* event)
{
    QMainWindow::paintEvent(event);
    QPainter painter(this);
    painter.setPen(QColor(kBorder));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void MainWindow::moveEvent(QMoveEvent* event)
{
    QMainWindow::moveEvent(event);
    placeTitleBar();
}

void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (m_titleBar->mode() == TitleBar::Mode::Separate) {
        placeTitleBar();
        m_titleBar->show();
    }
}

void MainWindow::hideEvent(QHideEvent* event)
{
    QMainWindow::hideEvent(event);
    if (m_titleBar->mode() == TitleBar::Mode::Separate)
        m_titleBar->hide();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (m_closeCheck && !m_closeCheck()) {
        event->ignore();
        // The caption may have been closed on its own (the window manager's close on it).
        if (m_titleBar->mode() == TitleBar::Mode::Separate && isVisible())
            m_titleBar->show();
        return;
    }
    emit closeRequested();
    event->accept();
}

void MainWindow::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange
        || m_titleBar->mode() == TitleBar::Mode::Embedded)
        return;
    if (!isMinimized()) {
        if (isVisible())
            m_titleBar->show();
        return;
    }
    // Minimised, the window leaves the task bar and only the tray icon remains; without a tray
    // that would lose it, so there it stays minimised where the desktop keeps such windows.
    if (m_hideWhenMinimised)
        QMetaObject::invokeMethod(this, &QWidget::hide, Qt::QueuedConnection);
    else
        m_titleBar->hide();
}

void MainWindow::follow(irc::ServerLink& link, irc::ServerEvents& events, irc::CtcpService& ctcp,
                        irc::PresencePoller& presence)
{
    connect(&link, &irc::ServerLink::statusChanged, this, &MainWindow::showLinkStatus);
    connect(&link, &irc::ServerLink::registered, this, &MainWindow::showNick);
    connect(&link, &irc::ServerLink::nickChanged, this, &MainWindow::showNick);
    connect(&link, &irc::ServerLink::closedByUser, this, &MainWindow::showDisconnected);
    connect(&link, &irc::ServerLink::lineReceived, this, &MainWindow::logServerLine);
    connect(&events, &irc::ServerEvents::whois, this, [this](const irc::Message& message) {
        showWhois(diag::decodeServerText(irc::whoisText(message.params)));
    });
    connect(&ctcp, &irc::CtcpService::replyArrived, this, &MainWindow::showCtcpReply);
    m_contacts->follow(presence);
}

} // namespace app
