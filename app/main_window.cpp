#include "app/main_window.h"

#include "app/app_context.h"
#include "app/command_ids.h"
#include "diag/debug_window.h"
#include "diag/raw_data_window.h"
#include "diag/server_log_window.h"
#include "irc/line_tools.h"
#include "irc/texts.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QMetaObject>
#include <QScreen>
#include <QStatusBar>

namespace app {

namespace {

constexpr char kNotConnected[] = "Not Connected.";
constexpr char kConnectingWait[] = "Connecting...please wait";

} // namespace

MainWindow::MainWindow(AppContext& context, QWidget* parent)
    : QMainWindow(parent)
    , m_context(context)
    , m_dump(QStringLiteral("out.txt"), context.debugDump)
    , m_debugWindow(std::make_unique<diag::DebugWindow>())
    , m_serverLog(std::make_unique<diag::ServerLogWindow>())
    , m_rawData(std::make_unique<diag::RawDataWindow>())
{
    setWindowTitle(irc::text::kTitleIdle);
    setFixedSize(kWidth, kHeight);
    setAttribute(Qt::WA_QuitOnClose, false);

    auto* central = new QWidget(this);
    m_contacts = new QListWidget(central);
    m_contacts->setObjectName(QStringLiteral("contacts"));
    m_contacts->setGeometry(50, 10, 150, 265);
    setCentralWidget(central);

    m_status = new QLabel(QString::fromLatin1(kNotConnected), this);
    statusBar()->addWidget(m_status, 1);
    statusBar()->setSizeGripEnabled(false);

    buildMenus();

    irc::ServerLink& link = m_context.link;
    const diag::LineSender sender = [&link](const QByteArray& bytes) {
        return link.sendRaw(bytes);
    };
    m_debugWindow->setSender(sender);
    m_rawData->setSender(sender);

    connect(&link, &irc::ServerLink::statusTextChanged, this, &MainWindow::setStatusText);
    connect(&link, &irc::ServerLink::titleChanged, this, &QWidget::setWindowTitle);
    connect(&link, &irc::ServerLink::batchReceived, this,
            [this](const QList<QByteArray>& lines) { m_dump.DumpReceivedLines(lines); });
    connect(&link, &irc::ServerLink::lineReceived, this, &MainWindow::onServerLine);
    connect(&link, &irc::ServerLink::disconnectedByUser, m_contacts, &QListWidget::clear);

    centreOnScreen();
}

MainWindow::~MainWindow() = default;

void MainWindow::centreOnScreen()
{
    if (const QScreen* screen = this->screen()) {
        const QRect area = screen->geometry();
        move(area.x() + area.width() / 2 - kWidth / 2, area.y() + area.height() / 2 - kHeight / 2);
    }
}

void MainWindow::start()
{
    if (m_context.store.autoconnectRequested()) {
        setStatusText(QString::fromLatin1(kConnectingWait));
        QMetaObject::invokeMethod(
            this, [this] { runCommand(cmd::ConnectCurrent); }, Qt::QueuedConnection);
    }
}

QAction* MainWindow::addCommand(QMenu* menu, const QString& text, int id, bool available)
{
    QAction* action = menu->addAction(text);
    action->setData(id);
    action->setEnabled(available);
    connect(action, &QAction::triggered, this, [this, id] { runCommand(id); });
    return action;
}

void MainWindow::buildMenus()
{
    QMenu* ircMenu = menuBar()->addMenu(tr("IRC"));
    addCommand(ircMenu, tr("&Connect"), cmd::Connect);
    addCommand(ircMenu, tr("&Disconnect"), cmd::Disconnect);
    ircMenu->addSeparator();
    addCommand(ircMenu, tr("&Program Settings"), cmd::ProgramSettings, false);
    ircMenu->addSeparator();
    addCommand(ircMenu, tr("&Exit"), cmd::Exit);

    QMenu* serverMenu = menuBar()->addMenu(tr("Server"));
    addCommand(serverMenu, tr("&Edit Servers"), cmd::EditServers, false);
    serverMenu->addSeparator();
    addCommand(serverMenu, tr("&Send Raw Data to Server"), cmd::SendRawData);

    QMenu* viewMenu = menuBar()->addMenu(tr("View"));
    addCommand(viewMenu, tr("&Show Server Commands/Replies"), cmd::ShowServerLog);
    addCommand(viewMenu, tr("Show &Debug Window"), cmd::ShowDebugWindow);

    QMenu* contactsMenu = menuBar()->addMenu(tr("Contacts"));
    addCommand(contactsMenu, tr("&Edit Contacts (Add/Rename/Remove)"), cmd::EditContacts, false);
    addCommand(contactsMenu, tr("&Remove Selected Contact"), cmd::RemoveSelectedContact, false);

    QMenu* helpMenu = menuBar()->addMenu(tr("Help"));
    addCommand(helpMenu, tr("&Kivvo Help"), cmd::Help, false);
    addCommand(helpMenu, tr("&View Help Online"), cmd::HelpOnline, false);
    addCommand(helpMenu, tr("&Visit Customer Support Online"), cmd::SupportOnline, false);
    helpMenu->addSeparator();
    addCommand(helpMenu, tr("&About Kivvo"), cmd::About, false);
}

QAction* MainWindow::commandAction(int id) const
{
    const QList<QAction*> actions = findChildren<QAction*>();
    for (QAction* action : actions) {
        if (action->data().toInt() == id && !action->menu())
            return action;
    }
    return nullptr;
}

void MainWindow::runCommand(int id)
{
    irc::ServerLink& link = m_context.link;
    switch (id) {
    case cmd::ConnectCurrent:
        link.connectToCurrentServer();
        break;
    case cmd::Connect:
        // Until the server connect dialog exists: a fresh attempt at the current server.
        if (link.state() == irc::ServerLink::State::Idle)
            link.connectToCurrentServer();
        break;
    case cmd::Exit:
        closeStep();
        break;
    case cmd::Disconnect:
        link.disconnectFromServer();
        break;
    case cmd::SendRawData:
        m_rawData->showNormal();
        m_rawData->raise();
        break;
    case cmd::ShowServerLog:
        m_serverLog->showNormal();
        m_serverLog->raise();
        break;
    case cmd::ShowDebugWindow:
        m_debugWindow->showNormal();
        m_debugWindow->raise();
        break;
    default:
        break;
    }
}

void MainWindow::onServerLine(const QByteArray& line)
{
    // The presence reply comes every ten seconds and would drown the log.
    const std::optional<QByteArray> word = irc::GetCommandWord(line);
    if (!word || !word->startsWith("303"))
        m_serverLog->appendLine(line);
}

QString MainWindow::statusText() const
{
    return m_status->text();
}

void MainWindow::setStatusText(const QString& text)
{
    m_status->setText(text);
}

void MainWindow::closeStep()
{
    if (m_closed)
        return;
    m_closed = true;
    m_context.link.quitForClose();
    emit closeStepDone();
    QCoreApplication::quit();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    closeStep();
    event->accept();
}

} // namespace app
