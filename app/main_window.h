#pragma once

#include "diag/received_dump.h"

#include <QMainWindow>

#include <memory>

class QAction;
class QLabel;
class QListWidget;
class QMenu;

namespace diag {
class DebugWindow;
class RawDataWindow;
class ServerLogWindow;
} // namespace diag

namespace app {

struct AppContext;

// The contact list window and the hub of the program: menu commands arrive here by id and go to
// whatever handles them, and the server link's lines go to the dispatcher and the server log.
class MainWindow : public QMainWindow
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

public slots:
    void runCommand(int id);
    // The close step of Exit, the close box, SIGTERM and SIGINT; runs once.
    void closeStep();
    void setStatusText(const QString& text);

signals:
    void closeStepDone();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildMenus();
    QAction* addCommand(QMenu* menu, const QString& text, int id, bool available = true);
    void onServerLine(const QByteArray& line);
    void centreOnScreen();

    AppContext& m_context;
    diag::ReceivedDump m_dump;
    QLabel* m_status = nullptr;
    QListWidget* m_contacts = nullptr;
    std::unique_ptr<diag::DebugWindow> m_debugWindow;
    std::unique_ptr<diag::ServerLogWindow> m_serverLog;
    std::unique_ptr<diag::RawDataWindow> m_rawData;
    bool m_closed = false;
};

} // namespace app
