#include "peer/voice/voice_window.h"

#include "diag/server_text.h"
#include "res/resources.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QIcon>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>

namespace peer {

namespace {

// 189 x 150 dialog units in the system font the window was drawn for.
constexpr int kWidth = 284;
constexpr int kHeight = 244;

} // namespace

VoiceWindow::VoiceWindow(const QByteArray& peer, QWidget* parent)
    : QDialog(parent)
{
    setModal(false);
    setWindowTitle(tr("Voice Chat"));
    setWindowIcon(res::icon(QStringLiteral("CHATWNDICON")));

    auto* icon = new QLabel(this);
    icon->setPixmap(res::icon(QStringLiteral("MICROPHONE")).pixmap(32, 32));
    icon->setAccessibleName(tr("Microphone"));
    icon->setToolTip(tr("Microphone"));
    // The nick came from the network.
    m_peer = new QLabel(tr("Voice chat with %1").arg(diag::decodeServerText(peer)), this);
    m_peer->setTextFormat(Qt::PlainText);
    m_codec = new QLabel(this);
    m_codec->setTextFormat(Qt::PlainText);
    m_codec->setObjectName(QStringLiteral("VoiceCodec"));
    auto* label = new QLabel(tr("Status:"), this);
    m_status = new QPlainTextEdit(this);
    m_status->setReadOnly(true);
    m_status->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_button = new QPushButton(tr("End Voice Chat"), this);
    m_button->setDefault(true);
    connect(m_button, &QPushButton::clicked, this, &VoiceWindow::close);

    auto* layout = new QGridLayout(this);
    layout->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
    layout->addWidget(m_peer, 0, 1, 1, 2);
    layout->addWidget(label, 1, 1, Qt::AlignBottom);
    layout->addWidget(m_status, 2, 0, 1, 3);
    layout->addWidget(m_codec, 3, 0, 1, 3);
    layout->addWidget(m_button, 4, 0, 1, 3, Qt::AlignHCenter);
    layout->setColumnStretch(2, 1);
    resize(kWidth, kHeight);
}

void VoiceWindow::showStatus(const QString& text)
{
    // The text ends in CR LF; the field shows lines, not an empty last one.
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (shown.endsWith(QLatin1Char('\n')))
        shown.chop(1);
    m_status->setPlainText(shown);
    m_status->verticalScrollBar()->setValue(m_status->verticalScrollBar()->maximum());
}

void VoiceWindow::showCodec(const QString& text)
{
    m_codec->setText(text);
}

void VoiceWindow::callEnded()
{
    m_button->setText(tr("Close"));
    // Its last rates were what the links did, not what they do: nothing goes either way now.
    m_codec->setText(tr("The voice chat has ended."));
}

QString VoiceWindow::statusText() const
{
    return m_status->toPlainText();
}

void VoiceWindow::closeEvent(QCloseEvent* event)
{
    emit dismissed();
    event->accept();
}

void VoiceWindow::reject()
{
    // Escape ends the chat the way the button does.
    close();
}

} // namespace peer
