#pragma once

#include "diag/received_dump.h"
#include "irc/ctcp.h"
#include "irc/dcc_offer.h"
#include "irc/message_dispatcher.h"
#include "irc/presence.h"
#include "peer/chat_host.h"

#include <QMainWindow>
#include <QTimer>

#include <memory>
#include <optional>

class QAction;
class QLabel;
class QListWidget;
class QMenu;

namespace diag {
class DebugWindow;
class RawDataWindow;
class ServerLogWindow;
} // namespace diag

namespace config {
class Prompter;
}

namespace peer {
struct ChatSession;
class ChatWindow;
class DirectChatLink;
enum class ChatRequest;
} // namespace peer

namespace app {

struct AppContext;
class ServerActions;

// The contact list window and the hub of the program: menu commands arrive here by id and go to
// whatever handles them, and the server link's lines go to the dispatcher and the server log.
class MainWindow : public QMainWindow, private peer::ChatHost
{
    Q_OBJECT

public:
    static constexpr int kWidth = 225;
    static constexpr int kHeight = 360;

    explicit MainWindow(AppContext& context, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Starts what the window does by itself once it exists: the automatic connection.
    void start();

    QString statusText() const;
    QAction* commandAction(int id) const;

    diag::DebugWindow* debugWindow() const { return m_debugWindow.get(); }
    diag::ServerLogWindow* serverLogWindow() const { return m_serverLog.get(); }
    diag::RawDataWindow* rawDataWindow() const { return m_rawData.get(); }
    QListWidget* contactList() const { return m_contacts; }
    QMenu* contactMenu() const { return m_nickPopup; }
    // The last command a handler of a later feature received (tests check the routing).
    int lastUnhandledCommand() const { return m_lastUnhandled; }

    static constexpr int kPollIntervalMs = 10000;
    static constexpr char kHintText[] = "Click \"Contacts\" (above)";
    static constexpr char kNoneOnline[] = "No Contacts Online";

    // Questions and boxes go through this; tests put a scripted one in.
    void setPrompter(std::unique_ptr<config::Prompter> prompter);

public slots:
    void runCommand(int id);
    // One presence poll: ISON for the stored contacts, or the hint when there are none.
    void poll();
    // The close step of Exit, the close box, SIGTERM and SIGINT; runs once.
    void closeStep();
    void setStatusText(const QString& text);

signals:
    void closeStepDone();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // What chat windows use of the program.
    QByteArray nickInUse() const override;
    bool sendServerLine(const QByteArray& line) override;
    bool loggingOn() const override;
    std::optional<QString> installDir() const override;

    std::optional<QByteArray> selectedContact() const;
    peer::ChatSession* openChat(const QByteArray& nick);
    peer::ChatWindow* openChatWindow(peer::ChatSession& chat);
    peer::ChatWindow* chatWindowFor(peer::ChatSession& chat);
    // Direct chats (main_window_dcc.cpp).
    void startChat(const QByteArray& nick, bool direct, bool encrypted);
    void handleDccOffer(irc::DccKind kind, const QByteArray& line);
    void acceptChatOffer(const irc::DccOffer& offer);
    void acceptFileOffer(const irc::DccOffer& offer);
    void acceptVoiceOffer(const irc::DccOffer& offer);
    void handleChatRequest(peer::ChatSession* chat, peer::ChatRequest request,
                           const QByteArray& nick);
    void wireLink(peer::DirectChatLink* link, peer::ChatSession& chat);
    quint32 offerAddress() const;
    void routePrivateText(const QByteArray& sender, const std::optional<QByteArray>& text,
                          const std::optional<QByteArray>& awayEcho);
    void showOnline(const QList<QByteArray>& names);
    void showSingleItem(const QString& text, int icon);
    void showContactMenu(const QPoint& position);
    void showWhois(const QString& text);
    void showCtcpReply(int code, const QString& title, const QString& text);
    void showAbout();
    void removeSelectedContact();
    void editContacts();

    void buildMenus();
    QAction* addCommand(QMenu* menu, const QString& text, int id, bool available = true);
    void onServerLine(const QByteArray& line);
    void centreOnScreen();

    AppContext& m_context;
    diag::ReceivedDump m_dump;
    QLabel* m_status = nullptr;
    QListWidget* m_contacts = nullptr;
    QMenu* m_nickPopup = nullptr;
    QWidget* m_userMenuBar = nullptr;
    std::unique_ptr<ServerActions> m_actions;
    std::unique_ptr<irc::MessageDispatcher> m_dispatcher;
    irc::PresenceMerge m_presence;
    irc::CtcpReplyBoxes m_replyBoxes;
    irc::PendingOffers m_pendingOffers;
    std::unique_ptr<config::Prompter> m_prompter;
    QTimer m_pollTimer;
    int m_lastUnhandled = 0;
    std::unique_ptr<diag::DebugWindow> m_debugWindow;
    std::unique_ptr<diag::ServerLogWindow> m_serverLog;
    std::unique_ptr<diag::RawDataWindow> m_rawData;
    bool m_closed = false;
};

} // namespace app
