#include "peer/transfer/transfer_window.h"

#include "peer/link/peer_key_question.h"
#include "peer/link/private_link.h"

#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>

namespace peer {

namespace {

constexpr int kQuestionRow = 8;
constexpr int kButtonRow = 9;
constexpr int kWidth = 360;

} // namespace

TransferWindow::TransferWindow(Transfer& transfer, QWidget* parent)
    : QDialog(parent)
    , m_transfer(&transfer)
{
    setModal(false);
    setWindowTitle(awaitingTitle(transfer.record().baseName));
    m_bar = new QProgressBar(this);
    m_bar->setRange(0, 100);
    m_bar->setValue(0);
    m_bar->setTextVisible(false);
    // The labels' first texts are the window's own, as they have always read.
    m_transferred = new QLabel(tr("Transferred:"), this);
    m_elapsed = new QLabel(tr("Time Elasped:"), this);
    m_rate = new QLabel(tr("Transfer Rate:"), this);
    m_remaining = new QLabel(tr("Time Remaining:"), this);
    m_file = new QLabel(tr("File: %1").arg(transfer.record().baseName), this);
    m_size = new QLabel(tr("Size: %1").arg(sizeText(transfer.size())), this);
    m_status = new QLabel(this);
    m_status->hide();
    // They show file names, paths and the peer's texts, whole: a long name or reason takes more
    // lines, never more width than the window has.
    for (QLabel* label :
         {m_file, m_size, m_transferred, m_elapsed, m_rate, m_remaining, m_status}) {
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
    }
    m_button = new QPushButton(tr("Cancel"), this);
    connect(m_button, &QPushButton::clicked, this, &TransferWindow::reject);

    auto* layout = new QGridLayout(this);
    int row = 0;
    for (QWidget* field : std::initializer_list<QWidget*>{m_file, m_size, m_bar, m_transferred,
                                                          m_elapsed, m_rate, m_remaining, m_status})
        layout->addWidget(field, row++, 0, 1, 2);
    layout->addWidget(m_button, kButtonRow, 1, Qt::AlignRight);
    resize(kWidth, 0);
    fitTexts();

    m_clock.start();
    connect(&transfer, &Transfer::progressed, this, [this] { refresh(false); });
    connect(&transfer, &Transfer::statusChanged, this, &TransferWindow::showStatus);
    connect(&transfer, &Transfer::peerKeyToAccept, this, &TransferWindow::askAboutPeerKey);
}

void TransferWindow::askAboutPeerKey()
{
    if (!m_transfer || m_question)
        return;
    m_question = new PeerKeyQuestion(m_transfer->record().peerNick, m_transfer->peerFingerprint(),
                                     m_transfer->ownFingerprint(), this);
    connect(m_question, &PeerKeyQuestion::accepted, this, [this] {
        if (m_transfer)
            m_transfer->acceptPeerKey();
    });
    connect(m_question, &PeerKeyQuestion::refused, this, [this] {
        if (m_transfer)
            m_transfer->refusePeerKey();
    });
    static_cast<QGridLayout*>(layout())->addWidget(m_question, kQuestionRow, 0, 1, 2);
    m_question->show();
    fitTexts();
}

void TransferWindow::fitTexts()
{
    // A window does not take its wrapped labels' height for its width by itself: without this a
    // reason shown later kept the height of the window that had none, and lost its lines.
    layout()->activate();
    const int width = std::max(this->width(), layout()->minimumSize().width());
    const int height = layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(width)
                                                     : layout()->totalSizeHint().height();
    setMinimumHeight(height);
    if (this->height() < height || this->width() < width)
        resize(width, std::max(height, this->height()));
}

void TransferWindow::refresh(bool force)
{
    if (!m_transfer)
        return;
    const quint64 count = m_transfer->count();
    const quint64 size = m_transfer->size();
    if (!m_gate.due(count, size, m_clock.elapsed()) && !force)
        return;
    const TransferView view =
        describeTransfer(count, size, m_transfer->elapsedSeconds(), m_transfer->record().path);
    if (view.complete && m_transfer->status() != Transfer::Status::Stopped)
        m_button->setText(tr("Close"));
    if (view.percent)
        m_bar->setValue(*view.percent);
    const auto set = [](QLabel* label, const std::optional<QString>& text) {
        if (text)
            label->setText(*text);
    };
    set(m_transferred, view.transferred);
    set(m_elapsed, view.elapsed);
    set(m_rate, view.rate);
    set(m_remaining, view.remaining);
    if (view.title && m_transfer->status() != Transfer::Status::Complete)
        setWindowTitle(*view.title);
    fitTexts();
}

void TransferWindow::showStatus(Transfer::Status status)
{
    if (!m_transfer)
        return;
    if (status == Transfer::Status::Running && m_transfer->protection() != LinkProtection::None) {
        // A private link says how private, with the fingerprint the two users can compare.
        m_status->setText(protectionText(m_transfer->protection(), m_transfer->peerFingerprint()));
        m_status->show();
        fitTexts();
        return;
    }
    if (status == Transfer::Status::Complete) {
        refresh(true);
        // By the file's name, however far the title had gone: "(100%)" after the path said
        // nothing the user could not see, and hid which file it was.
        setWindowTitle(completeTitle(m_transfer->record().baseName));
        // Below what the link's protection was, when it was private.
        const QString before = m_status->isVisibleTo(this) ? m_status->text() : QString();
        m_status->setText(before.isEmpty() ? tr("Transfer complete.")
                                           : before + QLatin1Char('\n') + tr("Transfer complete."));
        m_status->show();
        fitTexts();
        return;
    }
    if (status != Transfer::Status::Stopped)
        return;
    // Nothing is left to accept.
    if (m_question)
        m_question->deleteLater();
    // The numbers as they ended, and why they ended there: never "Close" as if complete.
    refresh(true);
    if (const auto& error = m_transfer->error()) {
        QString text = errorText(*error, m_transfer->errorDetail());
        if (const QString part = m_transfer->keptPart(); !part.isEmpty())
            text += QLatin1Char('\n') + tr("What arrived is kept in \"%1\".").arg(part);
        m_status->setText(text);
        m_status->show();
        if (*error == TransferError::OfferExpired || *error == TransferError::Declined) {
            // Nothing is awaited any more: the window only waits to be closed.
            const QString& name = m_transfer->record().baseName;
            setWindowTitle(*error == TransferError::Declined ? declinedTitle(name)
                                                             : expiredTitle(name));
            m_button->setText(tr("Close"));
        }
        fitTexts();
    }
}

void TransferWindow::reject()
{
    if (m_transfer)
        m_transfer->cancel();
    emit dismissed();
    QDialog::reject();
}

} // namespace peer
