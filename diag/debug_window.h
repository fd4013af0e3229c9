#pragma once

#include "diag/debug_log.h"
#include "diag/line_sender.h"

#include <QDialog>

#include <utility>

class QLineEdit;
class QPlainTextEdit;

namespace diag {

// "Debug Window": the status and info panes of the debug log, and a box for sending one line to
// the server. Hidden by "OK"; Escape does nothing.
class DebugWindow : public QDialog
{
    Q_OBJECT

public:
    explicit DebugWindow(QWidget* parent = nullptr);

    void setSender(LineSender sender) { m_sender = std::move(sender); }

    // Test access.
    QPlainTextEdit* statusPane() const { return m_status; }
    QPlainTextEdit* infoPane() const { return m_info; }
    QLineEdit* sendBox() const { return m_sendBox; }

public slots:
    void sendLine();
    void reject() override;

private:
    void refresh(Pane pane);

    LineSender m_sender;
    QPlainTextEdit* m_status = nullptr;
    QPlainTextEdit* m_info = nullptr;
    QLineEdit* m_sendBox = nullptr;
};

} // namespace diag
