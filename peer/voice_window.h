#pragma once

#include <QDialog>

class QPlainTextEdit;

namespace peer {

// The "VOICECHAT" window: the status text every voice window shares, and the button that ends
// the chat. It only shows and forwards; the chat belongs to the voice chats.
class VoiceWindow : public QDialog
{
    Q_OBJECT

public:
    explicit VoiceWindow(QWidget* parent = nullptr);

    void showStatus(const QString& text);
    QString statusText() const;

signals:
    // The user ended the chat or closed the window.
    void dismissed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    QPlainTextEdit* m_status;
};

} // namespace peer
