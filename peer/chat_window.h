#pragma once

#include <QByteArray>
#include <QDialog>

class QPlainTextEdit;

namespace peer {

struct ChatSession;

// A chat with one peer: the lines of both sides. The full window (formatting, logs, sending)
// grows from this; it already keeps every line, in order, from the moment it opens.
class ChatWindow : public QDialog
{
    Q_OBJECT

public:
    explicit ChatWindow(ChatSession& session, QWidget* parent = nullptr);

    void appendPeerLine(const QByteArray& text);
    void appendOwnLine(const QByteArray& ownNick, const QByteArray& text);
    QString transcript() const;

signals:
    void closedByUser();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    ChatSession& m_session;
    QPlainTextEdit* m_view = nullptr;
};

} // namespace peer
