#pragma once

#include <QByteArray>
#include <QDialog>

class QPlainTextEdit;
class QPushButton;

namespace diag {

// "Server": every line the server sends, appended in constant time and bounded to the newest
// kMaxLines lines. "Clear Window" (and Escape) empties it; "Close", Ctrl+W and the close box
// hide it.
class ServerLogWindow : public QDialog
{
    Q_OBJECT

public:
    static constexpr int kMaxLines = 100000;

    explicit ServerLogWindow(QWidget* parent = nullptr);

    QPlainTextEdit* view() const { return m_view; }
    QPushButton* clearButton() const { return m_clear; }
    QPushButton* closeButton() const { return m_close; }

public slots:
    // A line as received, without its CR LF.
    void appendLine(QByteArrayView line);
    void clearWindow();
    void reject() override; // Escape clears, as the cancel button does

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void layOut();

    QPlainTextEdit* m_view = nullptr;
    QPushButton* m_clear = nullptr;
    QPushButton* m_close = nullptr;
};

} // namespace diag
