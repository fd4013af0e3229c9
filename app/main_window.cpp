#include "app/main_window.h"

#include "app/app_context.h"
#include "app/command_ids.h"
#include "app/server_actions.h"
#include "config/contact_editor.h"
#include "config/prompter.h"
#include "diag/debug_window.h"
#include "diag/raw_data_window.h"
#include "diag/server_log_window.h"
#include "diag/server_text.h"
#include "irc/ctcp.h"
#include "irc/line_tools.h"
#include "irc/texts.h"
#include "peer/chat_window.h"
#include "peer/session_record.h"
#include "res/resources.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QMetaObject>
#include <QScreen>
#include <QStatusBar>

namespace app {

namespace {

constexpr char kNotConnected[] = "Not Connected.";
constexpr char kConnectingWait[] = "Connecting...please wait";
constexpr int kIconContact = 0;
constexpr int kIconNoContacts = 1;
// Marks the hint and "No Contacts Online" rows, which are not contacts.
constexpr int kNotAContactRole = Qt::UserRole + 1;

// Sorted as people read names, without regard to case.
class ContactItem : public QListWidgetItem
{
public:
    using QListWidgetItem::QListWidgetItem;
    bool operator<(const QListWidgetItem& other) const override
    {
        return text().compare(other.text(), Qt::CaseInsensitive) < 0;
    }
};

QIcon contactIcon(int index)
{
    return QIcon(index == kIconContact ? QStringLiteral(":/icons/CONTACT")
                                       : QStringLiteral(":/icons/NOCONTACTS"));
}

} // namespace

MainWindow::MainWindow(AppContext& context, QWidget* parent)
    : QMainWindow(parent)
    , m_context(context)
    , m_dump(QStringLiteral("out.txt"), context.debugDump)
    , m_actions(std::make_unique<ServerActions>(context))
    , m_dispatcher(std::make_unique<irc::MessageDispatcher>(context.settings, *m_actions))
    , m_debugWindow(std::make_unique<diag::DebugWindow>())
    , m_serverLog(std::make_unique<diag::ServerLogWindow>())
    , m_rawData(std::make_unique<diag::RawDataWindow>())
{
    m_prompter = std::make_unique<config::WidgetPrompter>();
    res::initResources();
    setWindowTitle(irc::text::kTitleIdle);
    setFixedSize(kWidth, kHeight);
    setAttribute(Qt::WA_QuitOnClose, false);

    auto* central = new QWidget(this);
    m_contacts = new QListWidget(central);
    m_contacts->setObjectName(QStringLiteral("contacts"));
    m_contacts->setGeometry(50, 10, 150, 265);
    m_contacts->setViewMode(QListView::ListMode);
    m_contacts->setSelectionMode(QAbstractItemView::SingleSelection);
    m_contacts->setIconSize(QSize(16, 16));
    m_contacts->setSortingEnabled(true);
    m_contacts->sortItems(Qt::AscendingOrder);
    m_contacts->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_contacts, &QWidget::customContextMenuRequested, this, &MainWindow::showContactMenu);
    connect(m_contacts, &QListWidget::itemDoubleClicked, this, [this] { runCommand(cmd::Chat); });
    // Room for the skinned user menu bar.
    m_userMenuBar = new QWidget(central);
    m_userMenuBar->setObjectName(QStringLiteral("UserMenuBar"));
    m_userMenuBar->setGeometry(50, 280, 150, 25);
    setCentralWidget(central);
    setWindowIcon(contactIcon(kIconContact));

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
    connect(&link, &irc::ServerLink::registered, this, [this] {
        QMetaObject::invokeMethod(this, &MainWindow::poll, Qt::QueuedConnection);
        m_pollTimer.start(kPollIntervalMs);
    });
    connect(&link, &irc::ServerLink::pollStopped, &m_pollTimer, &QTimer::stop);
    connect(&m_pollTimer, &QTimer::timeout, this, &MainWindow::poll);

    connect(m_actions.get(), &ServerActions::titleChanged, this, &QWidget::setWindowTitle);
    connect(m_actions.get(), &ServerActions::privateTextArrived, this,
            &MainWindow::routePrivateText);
    connect(m_actions.get(), &ServerActions::onlineNamesArrived, this, [this](const auto& names) {
        if (const auto merged = m_presence.takeReply(names))
            showOnline(*merged);
    });
    connect(m_actions.get(), &ServerActions::whoisArrived, this, &MainWindow::showWhois);
    connect(m_actions.get(), &ServerActions::dccOfferArrived, this, &MainWindow::handleDccOffer);
    connect(m_actions.get(), &ServerActions::ctcpReplyArrived, this, &MainWindow::showCtcpReply);

    centreOnScreen();
}

MainWindow::~MainWindow()
{
    // Chat windows have no owner but use this window and the records; they go first.
    for (const auto& chat : m_context.chats)
        delete chat->window.data();
}

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
    addCommand(contactsMenu, tr("&Edit Contacts (Add/Rename/Remove)"), cmd::EditContacts);
    addCommand(contactsMenu, tr("&Remove Selected Contact"), cmd::RemoveSelectedContact);

    QMenu* helpMenu = menuBar()->addMenu(tr("Help"));
    addCommand(helpMenu, tr("&Kivvo Help"), cmd::Help, false);
    addCommand(helpMenu, tr("&View Help Online"), cmd::HelpOnline, false);
    addCommand(helpMenu, tr("&Visit Customer Support Online"), cmd::SupportOnline, false);
    helpMenu->addSeparator();
    addCommand(helpMenu, tr("&About Kivvo"), cmd::About);

    m_nickPopup = new QMenu(QStringLiteral("User Popup"), this);
    addCommand(m_nickPopup, tr("Chat"), cmd::Chat);
    addCommand(m_nickPopup, tr("DCC Chat"), cmd::DccChat);
    addCommand(m_nickPopup, tr("Encrypted Chat"), cmd::EncryptedChat);
    addCommand(m_nickPopup, tr("Voice Chat"), cmd::VoiceChat);
    m_nickPopup->addSeparator();
    addCommand(m_nickPopup, tr("Send File"), cmd::SendFile);
    m_nickPopup->addSeparator();
    addCommand(m_nickPopup, tr("Whois"), cmd::Whois);
    addCommand(m_nickPopup, tr("Ping"), cmd::Ping);
    addCommand(m_nickPopup, tr("Finger"), cmd::Finger);
    addCommand(m_nickPopup, tr("Time"), cmd::Time);
    addCommand(m_nickPopup, tr("Version"), cmd::Version);
    addCommand(m_nickPopup, tr("Source"), cmd::Source);
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
    case cmd::EditContacts:
        editContacts();
        break;
    case cmd::RemoveSelectedContact:
        removeSelectedContact();
        break;
    case cmd::About:
        showAbout();
        break;
    case cmd::Chat:
        if (const auto nick = selectedContact())
            openChat(*nick);
        break;
    case cmd::Whois:
    case cmd::Ping:
    case cmd::Version:
    case cmd::Finger:
    case cmd::Time:
    case cmd::Source:
        // Without a selection nothing goes out: a query to nobody only draws a server error.
        if (const auto nick = selectedContact()) {
            if (const auto line =
                    irc::buildCtcpQuery(id, *nick, QDateTime::currentSecsSinceEpoch()))
                link.sendLine(*line);
        }
        break;
    case cmd::DccChat:
        if (const auto nick = selectedContact())
            startChat(*nick, true, false);
        else
            m_prompter->showError(this, tr("Select Contact"),
                                  tr("You have to select a contact from the list before you "
                                     "can DCC chat with them"));
        break;
    case cmd::EncryptedChat:
        if (const auto nick = selectedContact())
            startChat(*nick, true, true);
        break;
    default:
        // Commands of features still to come (CTCP queries, direct chats, transfers, voice,
        // settings, servers, help pages) arrive here.
        m_lastUnhandled = id;
        break;
    }
}

void MainWindow::onServerLine(const QByteArray& line)
{
    m_dispatcher->HandleServerLine(line);
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
    m_pollTimer.stop();
    m_context.link.quitForClose();
    // Windows go before the records they show.
    for (const auto& chat : m_context.chats)
        delete chat->window.data();
    m_context.chats.FreeAllRecords();
    m_context.transfers.FreeAllRecords();
    emit closeStepDone();
    QCoreApplication::quit();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    closeStep();
    event->accept();
}

void MainWindow::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    // Minimised, the window leaves the task bar: only the tray icon remains.
    if (event->type() == QEvent::WindowStateChange && isMinimized())
        QMetaObject::invokeMethod(this, &QWidget::hide, Qt::QueuedConnection);
}

std::optional<QByteArray> MainWindow::selectedContact() const
{
    for (int row = 0; row < m_contacts->count(); ++row) {
        const QListWidgetItem* item = m_contacts->item(row);
        if (item->isSelected() && !item->data(kNotAContactRole).toBool())
            return item->text().toUtf8();
    }
    return std::nullopt;
}

void MainWindow::showContactMenu(const QPoint& position)
{
    // Only over a contact: a click on empty space shows nothing.
    QListWidgetItem* item = m_contacts->itemAt(position);
    if (!item || item->data(kNotAContactRole).toBool())
        return;
    item->setSelected(true);
    m_nickPopup->popup(m_contacts->viewport()->mapToGlobal(position));
}

peer::ChatSession* MainWindow::openChat(const QByteArray& nick)
{
    auto record = std::make_unique<peer::ChatSession>();
    record->nick = nick;
    record->serverRouted = true;
    peer::ChatSession* chat = m_context.chats.AppendRecord(std::move(record));
    openChatWindow(*chat);
    return chat;
}

peer::ChatWindow* MainWindow::openChatWindow(peer::ChatSession& chat)
{
    auto* window = new peer::ChatWindow(chat, *this);
    connect(window, &peer::ChatWindow::mainCommand, this, &MainWindow::runCommand);
    connect(window, &peer::ChatWindow::peerRequest, this,
            [this, record = &chat](peer::ChatRequest request, const QByteArray& nick) {
                handleChatRequest(record, request, nick);
            });
    window->show();
    return window;
}

peer::ChatWindow* MainWindow::chatWindowFor(peer::ChatSession& chat)
{
    // A direct link outlives its window; what still arrives opens the window again.
    if (auto* window = qobject_cast<peer::ChatWindow*>(chat.window.data()))
        return window;
    return openChatWindow(chat);
}

void MainWindow::routePrivateText(const QByteArray& sender, const std::optional<QByteArray>& text,
                                  const std::optional<QByteArray>& awayEcho)
{
    peer::ChatSession* chat = peer::FindRoutedChat(m_context.chats, sender);
    if (chat && !chat->window) {
        // Its window is gone without closing (never the case today); nothing may be lost.
        chat->serverRouted = false;
        chat = nullptr;
    }
    if (!chat)
        chat = openChat(sender);
    auto* window = qobject_cast<peer::ChatWindow*>(chat->window.data());
    if (text)
        window->lineArrived(*text);
    if (awayEcho)
        window->lineArrived(*awayEcho, true);
}

void MainWindow::showSingleItem(const QString& text, int icon)
{
    m_contacts->clear();
    auto* item = new QListWidgetItem(contactIcon(icon), text);
    item->setData(kNotAContactRole, true);
    m_contacts->addItem(item);
}

void MainWindow::poll()
{
    const QList<QByteArray> contacts = m_context.store.EnumContacts();
    if (contacts.isEmpty()) {
        showSingleItem(QString::fromLatin1(kHintText), kIconContact);
        return;
    }
    const QList<QByteArray> lines = irc::BuildIsonLines(contacts);
    m_presence.startPoll(static_cast<int>(lines.size()));
    for (const QByteArray& line : lines)
        m_context.link.sendLine(line);
}

void MainWindow::showOnline(const QList<QByteArray>& names)
{
    const std::optional<QByteArray> selected = selectedContact();
    if (names.isEmpty()) {
        showSingleItem(QString::fromLatin1(kNoneOnline), kIconNoContacts);
        return;
    }
    m_contacts->clear();
    for (const QByteArray& name : names) {
        auto* item = new ContactItem(contactIcon(kIconContact), diag::decodeServerText(name));
        m_contacts->addItem(item);
        if (selected && name == *selected)
            item->setSelected(true);
    }
}

void MainWindow::showWhois(const QString& text)
{
    // Not modal: a box left open must not hold up the lines behind it.
    auto* box =
        new QMessageBox(QMessageBox::NoIcon, tr("Whois Reply"), text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void MainWindow::showCtcpReply(int code, const QString& title, const QString& text)
{
    const auto kind = static_cast<irc::CtcpCode>(code);
    // One box per kind: a flood of replies must not bury the screen in boxes.
    if (!m_replyBoxes.canShow(kind))
        return;
    m_replyBoxes.markOpen(kind);
    auto* box = new QMessageBox(QMessageBox::Information, title, text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QDialog::finished, this, [this, kind] { m_replyBoxes.markClosed(kind); });
    box->open();
}

void MainWindow::showAbout()
{
    auto* box = new QMessageBox(QMessageBox::NoIcon, tr("About"),
                                QString::fromLatin1(irc::text::kTitleIdle), QMessageBox::Ok, this);
    box->setIconPixmap(contactIcon(kIconContact).pixmap(32, 32));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
}

void MainWindow::removeSelectedContact()
{
    if (const auto nick = selectedContact()) {
        m_context.store.RemoveContact(*nick);
        poll();
    }
}

QByteArray MainWindow::nickInUse() const
{
    return m_context.link.nickInUse();
}

bool MainWindow::sendServerLine(const QByteArray& line)
{
    return m_context.link.sendLine(line);
}

bool MainWindow::loggingOn() const
{
    return m_context.settings.logging;
}

std::optional<QString> MainWindow::installDir() const
{
    return m_context.store.GetInstallDir();
}

void MainWindow::setPrompter(std::unique_ptr<config::Prompter> prompter)
{
    m_prompter = std::move(prompter);
}

void MainWindow::editContacts()
{
    config::ContactEditor editor(m_context.store, *m_prompter, this);
    editor.exec();
}

} // namespace app
