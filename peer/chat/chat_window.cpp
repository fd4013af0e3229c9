#include "peer/chat/chat_window.h"

#include "diag/control_escape.h"
#include "diag/server_text.h"
#include "peer/chat/delivery_marks.h"
#include "peer/chat/earlier_lines.h"
#include "peer/chat/format_menus.h"
#include "peer/chat/format_render.h"
#include "peer/chat/format_runs.h"
#include "peer/chat/view_follower.h"
#include "peer/common/chat_host.h"
#include "peer/common/chat_text.h"
#include "peer/common/session_record.h"
#include "peer/common/texts.h"
#include "peer/link/private_link.h"
#include "res/resources.h"
#include "res/text_fit.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QToolButton>

#include <utility>

namespace peer {

ChatWindow::ChatWindow(ChatSession& session, ChatHost& host, QWidget* parent)
    : QDialog(parent, Qt::Window)
    , m_session(session)
    , m_host(host)
{
    res::initResources();
    setAttribute(Qt::WA_DeleteOnClose);
    setSizeGripEnabled(true);
    setWindowFlags(windowFlags() | Qt::WindowMinMaxButtonsHint);
    setWindowTitle(diag::escapeLineBreaks(diag::decodeServerText(session.nick)));
    makeParts();
    buildMenus();

    connect(m_send, &QPushButton::clicked, this, &ChatWindow::send);
    connect(m_input, &QLineEdit::textEdited, this, &ChatWindow::inputEdited);
    connect(m_input, &QLineEdit::inputRejected, this, [this] {
        // A paste cut at the bound is never cut in silence.
        if (std::exchange(m_inputLimitSaid, true))
            return;
        showLine(
            noteLine(QByteArray(text::kInputFull).replace("%1", QByteArray::number(kInputLimit))));
    });
    connect(m_clear, &QPushButton::clicked, this, &ChatWindow::clear);
    m_formatMenus = new FormatMenus(this, m_input);
    connect(m_styleButton, &QToolButton::clicked, this,
            [this] { styleMenu()->popup(QCursor::pos()); });
    connect(m_colourButton, &QToolButton::clicked, this,
            [this] { colourMenu()->popup(QCursor::pos()); });

    m_session.window = this;
    showTranscript();
    if (m_session.isEncrypted()) {
        m_cipherLabel->show();
        m_cipherText->show();
    }
    encryptionChanged();

    resize(kWidth, kHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(kWidth / 2, kHeight / 2));
    }
    layOut();
}

void ChatWindow::makeParts()
{
    m_menuBar = m_host.makeMenuBar(this, m_session.nick);
    m_view = new QTextEdit(this);
    m_view->setReadOnly(true);
    m_view->setAcceptRichText(false);
    m_view->setUndoRedoEnabled(false); // an undo stack would grow with every line
    m_view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    new ViewFollower(m_view->verticalScrollBar());
    m_earlier = new EarlierLines(m_view, kMaxLines);
    m_input = new QLineEdit(this);
    m_input->setMaxLength(kInputLimit);
    m_send = new QPushButton(tr("Send"), this);
    m_send->setDefault(true);
    m_clear = new QPushButton(tr("Clear Chat Window"), this);
    m_clear->setAutoDefault(false);
    m_styleButton = formatButton(QStringLiteral("FONTSTYLE"), tr("Text style"));
    m_colourButton = formatButton(QStringLiteral("FONTCOLOR"), tr("Text colour"));
    m_cipherLabel = new QLabel(tr("Encrypted text:"), this);
    m_cipherLabel->setTextFormat(Qt::PlainText);
    // These sit at fixed sizes that the desktop's font may not fit.
    res::fitText(m_send);
    res::fitText(m_clear);
    res::fitText(m_cipherLabel);
    m_protection = new QLabel(this);
    m_protection->setTextFormat(Qt::PlainText);
    m_protection->setObjectName(QStringLiteral("LinkProtection"));
    m_protection->setAlignment(Qt::AlignCenter);
    if (!m_session.isDirect())
        buildLockMenu();
    m_typing = new QLabel(this);
    m_typing->setTextFormat(Qt::PlainText);
    m_typing->setObjectName(QStringLiteral("Typing"));
    QFont small = m_typing->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    m_typing->setFont(small);
    m_typing->hide();
    m_cipherText = new QLineEdit(this);
    m_cipherText->setReadOnly(true);
    m_cipherLabel->hide();
    m_cipherText->hide();
}

void ChatWindow::buildLockMenu()
{
    m_lockButton = formatButton(QStringLiteral("SMALLCRYPTO"), tr("Encryption"));
    m_lockButton->setPopupMode(QToolButton::InstantPopup);
    m_lockMenu = new QMenu(tr("Encryption"), this);
    m_lockMenu->addAction(tr("Encrypt this chat"), this, &ChatWindow::encryptAsked);
    m_lockMenu->addAction(tr("Set key..."), this, &ChatWindow::keyEntryAsked);
    m_lockMenu->addAction(tr("Compare keys..."), this, &ChatWindow::comparisonAsked);
    m_lockMenu->addAction(tr("Stop encrypting"), this, &ChatWindow::stopEncryptingAsked);
    m_lockButton->setMenu(m_lockMenu);
    connect(m_lockMenu, &QMenu::aboutToShow, this, [this] {
        const QList<QAction*> actions = m_lockMenu->actions();
        const FishStatus& fish = m_session.fish;
        actions[2]->setEnabled(fish.keyed && !fish.typed);
        actions[3]->setEnabled(fish.keyed || fish.exchanging || fish.unreadable);
    });
}

QToolButton* ChatWindow::formatButton(const QString& icon, const QString& name)
{
    auto* button = new QToolButton(this);
    button->setIcon(res::icon(icon));
    button->setAccessibleName(name);
    button->setToolTip(name);
    return button;
}

void ChatWindow::buildMenus()
{
    // The bar's buttons act on this window's peer, never on whoever is selected in the contact
    // list. Ending encryption is a matter of this conversation alone: its view's menu has it.
    m_view->setContextMenuPolicy(Qt::CustomContextMenu);
    if (m_session.isDirect()) {
        m_compareAction = new QAction(tr("Compare..."), this);
        connect(m_compareAction, &QAction::triggered, this, &ChatWindow::linkComparisonAsked);
    }
    connect(m_view, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QMenu* menu = m_view->createStandardContextMenu(at);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->addSeparator();
        QAction* end = menu->addAction(tr("End encryption"), this, &ChatWindow::endEncryptionAsked);
        end->setEnabled(m_session.isEncrypted());
        if (m_compareAction)
            menu->addAction(m_compareAction);
        menu->popup(m_view->viewport()->mapToGlobal(at));
    });
}

QMenu* ChatWindow::styleMenu()
{
    return m_formatMenus->style();
}

QMenu* ChatWindow::colourMenu()
{
    return m_formatMenus->colour();
}

void ChatWindow::layOut()
{
    const QSize outer = frameGeometry().size();
    const int w = outer.width();
    const int h = outer.height();
    if (m_menuBar) {
        // The bar's 150 x 20 picture goes at (10, 5); an edge of its own goes around it rather
        // than over the picture's right and bottom end.
        const auto* framed = qobject_cast<QFrame*>(m_menuBar);
        const int edge = framed ? framed->frameWidth() : 0;
        m_menuBar->setGeometry(QRect(10, 5, 150, 20).adjusted(-edge, -edge, edge, edge));
    }
    if (m_session.isEncrypted()) {
        m_view->setGeometry(10, 30, w - 25, h - 145);
        m_input->setGeometry(10, h - 110, w - 25, 20);
        m_cipherLabel->setGeometry(10, h - 80, 75, 20);
        m_cipherText->setGeometry(85, h - 83, w - 100, 20);
    } else {
        m_view->setGeometry(10, 30, w - 25, h - 125);
        m_input->setGeometry(10, h - 80, w - 25, 20);
    }
    // In the gap between the conversation and the input line.
    m_typing->setGeometry(12, m_view->geometry().bottom() + 1, w - 29,
                          std::max(0, m_input->y() - m_view->geometry().bottom() - 1));
    if (m_lockButton)
        m_lockButton->setGeometry(w - 95, 5, 20, 20);
    m_styleButton->setGeometry(w - 65, 5, 20, 20);
    m_colourButton->setGeometry(w - 35, 5, 20, 20);
    m_clear->setGeometry(10, h - 50, 100, 20);
    m_send->setGeometry(w - 112, h - 50, 100, 20);
    m_protection->setGeometry(115, h - 50, std::max(0, w - 232), 20);
}

void ChatWindow::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    layOut();
}

void ChatWindow::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    m_input->setFocus();
}

void ChatWindow::reject()
{}

void ChatWindow::closeEvent(QCloseEvent* event)
{
    // A relayed chat never opens again (new text brings a new one); a direct one does, for its
    // link, and comes back with what was said.
    if (!m_session.isDirect()) {
        m_session.transcript.clear();
        m_session.transcriptLines = 0;
    }
    // The record stays, and so does its direct link; only server text stops coming here, so a
    // new message from the peer opens a new window.
    m_session.serverRouted = false;
    event->accept();
}

void ChatWindow::send()
{
    const QByteArray text = wireText(m_input->text());
    m_input->clear();
    m_inputLimitSaid = false;
    if (!text.isEmpty())
        emit textTyped(text);
}

void ChatWindow::giveBackInput(const QByteArray& text)
{
    if (m_input->text().isEmpty())
        m_input->setText(QString::fromUtf8(text));
}

void ChatWindow::flash()
{
    // Flashed, never brought up: the keyboard stays where the user is typing, which may be a
    // password field, and the peer chooses when lines arrive.
    if (!isActiveWindow())
        QApplication::alert(this);
}

void ChatWindow::showLine(const QByteArray& shown, bool unprotected)
{
    if (shown.isEmpty())
        return;
    // The view and the transcript take a line break as the end of a line; a nick or a peer that
    // could put one inside would write lines in the user's name.
    const QByteArray line = oneShownLine(shown);
    m_session.keepShown(line, kMaxLines, kTrimLines);
    // The view's follower keeps the newest line in view unless the user scrolled back to read.
    appendFormattedLine(m_view, line);
    if (unprotected)
        formatNewestLine(m_view->document(), unprotectedLineFormat(m_view->palette()));
    trimView();
}

void ChatWindow::showPendingLine(const QByteArray& line, quint64 id)
{
    showLine(line);
    markNewestLine(m_view->document(), id, Delivery::Pending, m_view->palette());
}

void ChatWindow::showUnsentLine(const QByteArray& line)
{
    showLine(line);
    markNewestLine(m_view->document(), kUnsentLine, Delivery::NotDelivered, m_view->palette());
}

void ChatWindow::markDelivered(quint64 id, bool delivered)
{
    remarkLine(m_view->document(), id, delivered ? Delivery::Sent : Delivery::NotDelivered,
               kMaxLines + kTrimLines, m_view->palette());
}

std::optional<ChatWindow::Delivery> ChatWindow::deliveryOf(quint64 id) const
{
    return lineDelivery(m_view->document(), id, kMaxLines + kTrimLines);
}

void ChatWindow::showTyping(const QString& text)
{
    m_typing->setText(text);
    m_typing->setVisible(!text.isEmpty());
}

void ChatWindow::trimView()
{
    // Each line ends in a break, so the last block is the empty one after the newest line.
    QTextDocument* document = m_view->document();
    const int lines = document->blockCount() - 1;
    if (lines <= kMaxLines + kTrimLines)
        return;
    // Whole blocks go from the top, each with its formats, so what stays keeps its looks.
    QTextCursor cut(document);
    cut.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, lines - kMaxLines);
    cut.removeSelectedText();
}

void ChatWindow::showTranscript()
{
    // Shown, not logged: the log has had these lines once already.
    const QByteArray& transcript = m_session.transcript;
    for (qsizetype from = 0; from < transcript.size();) {
        const qsizetype end = transcript.indexOf("\r\n", from);
        const qsizetype next = end < 0 ? transcript.size() : end + 2;
        appendFormattedLine(m_view, QByteArrayView(transcript).sliced(from, next - from));
        from = next;
    }
    m_view->verticalScrollBar()->setValue(m_view->verticalScrollBar()->maximum());
}

void ChatWindow::showCiphertext(const QByteArray& ciphertext)
{
    m_cipherText->setText(diag::decodeServerText(ciphertext));
}

void ChatWindow::encryptionChanged()
{
    const bool protectedChat =
        m_session.keyInstalled || m_session.tls != LinkProtection::None || m_session.fish.keyed;
    setWindowIcon(
        res::icon(protectedChat ? QStringLiteral("SMALLCRYPTO") : QStringLiteral("CHATWNDICON")));
    if (m_compareAction)
        m_compareAction->setEnabled(m_session.isPrivate() && m_session.tls != LinkProtection::None);
    if (m_session.isDirect())
        showProtection();
    else
        showRelayedProtection();
    layOut();
}

void ChatWindow::showRelayedProtection()
{
    const FishStatus& fish = m_session.fish;
    const QString text = fishText::status(fish);
    m_protection->setText(text);
    const QString whole =
        fish.comparison.isEmpty() ? text : tr("%1. Comparison: %2").arg(text, fish.comparison);
    m_protection->setToolTip(whole);
    m_protection->setAccessibleName(whole);
    res::fitText(m_protection);
}

void ChatWindow::showProtection()
{
    const LinkProtection protection = m_session.linkProtection();
    m_protection->setText(protectionShortText(protection));
    const QString whole = protectionText(protection, m_session.peerFingerprint);
    m_protection->setToolTip(whole);
    m_protection->setAccessibleName(whole);
    res::fitText(m_protection);
}

void ChatWindow::clear()
{
    m_session.transcript.clear();
    m_session.transcriptLines = 0;
    m_view->clear();
    m_earlier->cleared();
}

QString ChatWindow::viewText() const
{
    return m_view->toPlainText();
}

} // namespace peer
