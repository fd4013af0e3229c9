#pragma once

#include "peer/link/peer_key_question.h"
#include "peer/transfer/transfer.h"
#include "peer/transfer/transfer_core.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>

class QLabel;
class QProgressBar;
class QPushButton;

namespace peer {

// "File Transfer" (FILESTATUS): the progress of one transfer, either direction. It only shows
// what its transfer reports; Cancel (or Close, once complete) asks for the transfer's end.
class TransferWindow : public QDialog
{
    Q_OBJECT

public:
    explicit TransferWindow(Transfer& transfer, QWidget* parent = nullptr);

    QProgressBar* progressBar() const { return m_bar; }
    QPushButton* button() const { return m_button; }
    // The file's name, and its size for people.
    QLabel* fileLabel() const { return m_file; }
    QLabel* sizeLabel() const { return m_size; }
    QLabel* transferredLabel() const { return m_transferred; }
    QLabel* elapsedLabel() const { return m_elapsed; }
    QLabel* rateLabel() const { return m_rate; }
    QLabel* remainingLabel() const { return m_remaining; }
    QLabel* statusLabel() const { return m_status; }
    // The question about a private link's certificate new to us, while it is asked.
    PeerKeyQuestion* peerKeyQuestion() const { return m_question; }

public slots:
    // Escape and the button: the transfer ends and the window goes.
    void reject() override;

signals:
    void dismissed();

private:
    void refresh(bool force);
    void showStatus(Transfer::Status status);
    void askAboutPeerKey();
    // Grows the window to show every text whole at its width.
    void fitTexts();

    QPointer<Transfer> m_transfer;
    RefreshGate m_gate;
    QElapsedTimer m_clock;
    QProgressBar* m_bar = nullptr;
    QLabel* m_file = nullptr;
    QLabel* m_size = nullptr;
    QLabel* m_transferred = nullptr;
    QLabel* m_elapsed = nullptr;
    QLabel* m_rate = nullptr;
    QLabel* m_remaining = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_button = nullptr;
    QPointer<PeerKeyQuestion> m_question;
};

} // namespace peer
