#include "diag/server_log_window.h"

#include "diag/control_escape.h"
#include "diag/secret_mask.h"
#include "diag/server_text.h"
#include "diag/texts.h"
#include "res/text_fit.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollBar>
#include <QShortcut>

#include <algorithm>

namespace diag {

namespace {

constexpr int kInitialWidth = 500;
constexpr int kInitialHeight = 350;

} // namespace

ServerLogWindow::ServerLogWindow(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QString::fromLatin1(text::kServerLogTitle));
    setModal(false);

    m_view = new QPlainTextEdit(this);
    m_view->setReadOnly(true);
    m_view->setMaximumBlockCount(kMaxLines);
    m_view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

    m_clear = new QPushButton(QString::fromLatin1(text::kClearWindow), this);
    // Enter must not wipe the log by accident; Escape clearing it is the intended shortcut.
    m_clear->setAutoDefault(false);
    connect(m_clear, &QPushButton::clicked, this, &ServerLogWindow::clearWindow);
    // Placed by hand at a fixed height that the desktop's font may not fit.
    res::fitText(m_clear);
    // Escape is taken by "Clear Window"; without these only the window manager could hide it.
    m_close = new QPushButton(QString::fromLatin1(text::kClose), this);
    m_close->setAutoDefault(false);
    connect(m_close, &QPushButton::clicked, this, &QWidget::hide);
    res::fitText(m_close);
    connect(new QShortcut(QKeySequence::Close, this), &QShortcut::activated, this, &QWidget::hide);

    resize(kInitialWidth, kInitialHeight);
    // A hidden window gets its resize event only when first shown; place the controls now.
    layOut();
}

void ServerLogWindow::appendLine(QByteArrayView line)
{
    // One line from the server is one line here: a bare LF inside it is shown, not obeyed.
    if (line.endsWith("\r\n"))
        line.chop(2);
    m_view->appendPlainText(escapeControls(decodeServerText(maskSecrets(line))));
    m_view->verticalScrollBar()->setValue(m_view->verticalScrollBar()->maximum());
}

void ServerLogWindow::clearWindow()
{
    m_view->clear();
}

void ServerLogWindow::reject()
{
    clearWindow();
}

void ServerLogWindow::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    layOut();
}

void ServerLogWindow::closeEvent(QCloseEvent* event)
{
    // Not QDialog's handler: that goes through reject(), which would clear the log.
    event->accept();
}

void ServerLogWindow::layOut()
{
    const int w = width();
    const int h = height();
    if (w <= 30 || h <= 60)
        return;
    m_view->setGeometry(15, 10, w - 30, h - 70);
    m_clear->setGeometry(15, h - 50, w - 30, 20);
    // In the strip below "Clear Window", at its right end.
    const int closeWidth = std::max(75, m_close->sizeHint().width());
    m_close->setGeometry(w - 15 - closeWidth, h - 25, closeWidth, 20);
    m_view->verticalScrollBar()->setValue(m_view->verticalScrollBar()->maximum());
}

} // namespace diag
