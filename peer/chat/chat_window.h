#pragma once

#include "peer/chat/delivery_marks.h"
#include "peer/common/session_record.h"

#include <QByteArray>
#include <QDateTime>
#include <QDialog>
#include <QString>

#include <cstddef>
#include <limits>
#include <optional>

class QLabel;
class QLineEdit;
class QAction;
class QMenu;
class QPushButton;
class QTextEdit;
class QToolButton;

namespace peer {

class ChatHost;
struct ChatSession;
class EarlierLines;
class FormatMenus;

// "CHATWINDOW": one conversation with one peer, relayed by the server or over a direct link.
// Shows the lines its chat sessions give it, with their formatting, and hands on what the user
// types and asks; the sessions decide what a line is, send and keep the log. Its record outlives
// it: closing only stops server text from arriving here.
class ChatWindow : public QDialog
{
    Q_OBJECT

public:
    static constexpr int kWidth = 390; // 260 x 190 dialog units
    static constexpr int kHeight = 309;
    // Characters the input takes; a longer text goes out as several messages.
    static constexpr int kInputLimit = 4096;
    // The view and the transcript keep the newest lines; the log keeps them all. Past
    // kMaxLines + kTrimLines they are cut back to kMaxLines in one step: a view that dropped its
    // oldest line with each new one would lay itself out again for every line.
    static constexpr int kMaxLines = 2000;
    static constexpr int kTrimLines = 200;

    ChatWindow(ChatSession& session, ChatHost& host, QWidget* parent = nullptr);

    // Shows one formatted line, which ends in CR LF. It stays one line: a line break inside it,
    // from whoever wrote it, is shown as its escape ("\x0a"). `unprotected`: it came in clear,
    // or unreadable, during an encrypted chat; the whole line is marked so, on every row it
    // wraps to.
    void showLine(const QByteArray& line, bool unprotected = false);
    // A line from the peer is about to be shown: an inactive window flashes, never comes up.
    void flash();
    // The user's own line, sent through the server but not yet echoed by it: shown as waiting
    // until markDelivered() says how it went.
    void showPendingLine(const QByteArray& line, quint64 id);
    // The user's own line that never went out: shown as not delivered from the start, under
    // an id no delivery ever asks about (the ids of sent lines count up from the start).
    static constexpr quint64 kUnsentLine = std::numeric_limits<quint64>::max();
    void showUnsentLine(const QByteArray& line);
    // The server echoed (true) or refused the line `id`: it looks sent, or not delivered.
    void markDelivered(quint64 id, bool delivered);
    // Who is typing, under the conversation; empty hides it.
    void showTyping(const QString& text);
    QLabel* typingLabel() const { return m_typing; }
    // How the line of `id` looks now, while it is still in the view.
    using Delivery = LineDelivery;
    std::optional<Delivery> deliveryOf(quint64 id) const;
    // The ciphertext of the packet just received, for the "Encrypted text:" field.
    void showCiphertext(const QByteArray& ciphertext);
    // The record's key or link protection changed: the icon, the field and the protection
    // shown follow it.
    void encryptionChanged();

    void send();
    void clear();
    // A typed line that could not go out comes back to an input the user has not refilled.
    void giveBackInput(const QByteArray& text);

    // The lines shown since the chat began (a relayed one: since its window opened) or was last
    // cleared, with formatting codes; at most the newest kMaxLines + kTrimLines.
    const QByteArray& transcript() const { return m_session.transcript; }
    QString viewText() const;
    QTextEdit* view() const { return m_view; }
    // What the view shows of the log from before the window opened.
    EarlierLines* earlier() const { return m_earlier; }
    QLineEdit* input() const { return m_input; }
    QPushButton* sendButton() const { return m_send; }
    QPushButton* clearButton() const { return m_clear; }
    QLineEdit* cipherField() const { return m_cipherText; }
    QLabel* cipherLabel() const { return m_cipherLabel; }
    // What protects a direct link, in short; the whole of it, fingerprint included, in its tip.
    QLabel* protectionLabel() const { return m_protection; }
    // A relayed chat's encryption menu; none in a direct chat.
    QToolButton* lockButton() const { return m_lockButton; }
    QMenu* lockMenu() const { return m_lockMenu; }
    // A direct chat's "Compare..." (in its view's menu), enabled on a private link.
    QAction* compareAction() const { return m_compareAction; }
    // The pop-ups of the format buttons, made at their first use.
    QMenu* styleMenu();
    QMenu* colourMenu();
    ChatSession& session() const { return m_session; }

signals:
    // The user sent a line: what goes to the peer, without line breaks; never empty.
    void textTyped(const QByteArray& text);
    // The user changed the input line (not the program: sending clears it without this).
    void inputEdited(const QString& text);
    // The user asked to end the encryption of this conversation.
    void endEncryptionAsked();
    // A relayed chat's encryption: a key exchange, a key to type, the comparison of the
    // exchange, back to clear text.
    void encryptAsked();
    void keyEntryAsked();
    void comparisonAsked();
    void stopEncryptingAsked();
    // A private direct chat's "Compare...": the users compare the link's certificates.
    void linkComparisonAsked();

public slots:
    // Escape does nothing: the window closes through its close box.
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // The view, the input, the buttons and labels, as the constructor lays them out.
    void makeParts();
    QToolButton* formatButton(const QString& icon, const QString& name);
    void buildMenus();
    void layOut();
    void trimView();
    void showTranscript();
    void showProtection();
    void showRelayedProtection();
    void buildLockMenu();

    ChatSession& m_session;
    ChatHost& m_host;
    QWidget* m_menuBar = nullptr;
    QTextEdit* m_view = nullptr;
    EarlierLines* m_earlier = nullptr;
    QLineEdit* m_input = nullptr;
    QPushButton* m_send = nullptr;
    QPushButton* m_clear = nullptr;
    QToolButton* m_styleButton = nullptr;
    QToolButton* m_colourButton = nullptr;
    FormatMenus* m_formatMenus = nullptr;
    QLabel* m_cipherLabel = nullptr;
    QLineEdit* m_cipherText = nullptr;
    QLabel* m_protection = nullptr;
    QLabel* m_typing = nullptr;
    QToolButton* m_lockButton = nullptr;
    QMenu* m_lockMenu = nullptr;
    QAction* m_compareAction = nullptr;
    // The input was full and refused more: said once until it is sent.
    bool m_inputLimitSaid = false;
};

} // namespace peer
