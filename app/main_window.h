#pragma once

#include "diag/line_sender.h"
#include "irc/ctcp.h"
#include "irc/link_status.h"

#include <QMainWindow>

#include <memory>

class QLabel;

namespace diag {
class DebugWindow;
class RawDataWindow;
class ServerLogWindow;
} // namespace diag

namespace app {

class CommandTable;
class ContactListView;

// The contact list window: its menus, the contact list, the status bar and the diagnostic
// windows. It shows what the program tells it and forwards what the user asks for; the
// program's features live elsewhere.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr int kWidth = 225;
    static constexpr int kHeight = 360;

    // `sender` puts the diagnostic windows' typed lines on the server link.
    MainWindow(CommandTable& commands, const diag::LineSender& sender, QWidget* parent = nullptr);
    ~MainWindow() override;

    QString statusText() const;
    ContactListView* contactList() const { return m_contacts; }
    // The diagnostic windows come into being when first needed: most runs never open them, and
    // building them (two text panes that lay out a document each) cost start-up time.
    diag::DebugWindow* debugWindow() const;
    diag::ServerLogWindow* serverLogWindow() const;
    diag::RawDataWindow* rawDataWindow() const;

    // Echoes a server line to the server log, except the presence replies that come every ten
    // seconds and would drown it.
    void logServerLine(const QByteArray& line);

public slots:
    void setStatusText(const QString& text);
    void showLinkStatus(const irc::LinkStatus& status);
    // Registered, or known by a new nick after a collision.
    void showNick(const QByteArray& nick);
    // The user ended the link: the idle title and no contacts.
    void showDisconnected();
    void showWhois(const QString& text);
    void showCtcpReply(irc::CtcpCode code, const QString& title, const QString& text);
    void bringToFront();

signals:
    // The close box: the program runs its close step.
    void closeRequested();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void buildMenus();
    void showAbout();
    void centreOnScreen();

    CommandTable& m_commands;
    diag::LineSender m_sender;
    QLabel* m_status = nullptr;
    ContactListView* m_contacts = nullptr;
    irc::CtcpReplyBoxes m_replyBoxes;
    mutable std::unique_ptr<diag::DebugWindow> m_debugWindow;
    mutable std::unique_ptr<diag::ServerLogWindow> m_serverLog;
    mutable std::unique_ptr<diag::RawDataWindow> m_rawData;
};

} // namespace app
