#pragma once

#include <QByteArray>
#include <QDialog>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace peer {

// The "VOICECHAT" window: the status text of its chat, and the button that ends
// the chat. It only shows and forwards; the chat belongs to the voice chats.
class VoiceWindow : public QDialog
{
    Q_OBJECT

public:
    // `peer` is whom the chat is with, as the server named them.
    explicit VoiceWindow(const QByteArray& peer, QWidget* parent = nullptr);

    void showStatus(const QString& text);
    QString statusText() const;
    // The chat is over: the button only closes the window.
    void callEnded();
    // What the chat's links carry: the codec, its bit rate and the delay on the playing side.
    void showCodec(const QString& text);
    QLabel* codecLabel() const { return m_codec; }
    QLabel* peerLabel() const { return m_peer; }
    QPushButton* button() const { return m_button; }

signals:
    // The user ended the chat or closed the window.
    void dismissed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    QLabel* m_peer;
    QLabel* m_codec;
    QPlainTextEdit* m_status;
    QPushButton* m_button;
};

} // namespace peer
