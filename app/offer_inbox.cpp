#include "app/offer_inbox.h"

#include "app/texts.h"
#include "config/prompter.h"
#include "diag/control_escape.h"
#include "diag/debug_log.h"
#include "diag/server_text.h"
#include "irc/server_events.h"
#include "peer/chat/chat_sessions.h"
#include "peer/common/texts.h"
#include "peer/transfer/file_receiver.h"
#include "peer/transfer/transfer_core.h"
#include "peer/transfer/transfers.h"
#include "peer/voice/voice_chats.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QStandardPaths>

namespace app {

namespace {

// A nick in a question is one line of it, whatever the server put in the nick.
QString nickText(const QByteArray& nick)
{
    return diag::escapeControls(diag::decodeServerText(nick));
}

// The offered name as text, without what no file name should show: controls such as U+0085,
// format characters such as U+202E, which would show "exe.txt" for "txt.exe", and the line and
// paragraph separators, which would add a line of the sender's choosing to the question.
QString fileNameText(const QByteArray& safeName)
{
    QString name = diag::decodeServerText(safeName);
    for (QChar& c : name) {
        const QChar::Category category = c.category();
        if (category == QChar::Other_Control || category == QChar::Other_Format
            || category == QChar::Separator_Line || category == QChar::Separator_Paragraph)
            c = u'_';
    }
    return name;
}

// A destination the receiver would refuse: only a regular file is written, never through a
// link.
bool isNoFile(const QFileInfo& info)
{
    return info.isSymLink() || (info.exists() && !info.isFile());
}

} // namespace

QString OfferInbox::whereText(const irc::DccOffer& offer)
{
    if (offer.passive())
        return tr(text::kNoAddressPassive) + QLatin1Char('\n') + protectionText(offer);
    QHostAddress host = offer.address;
    bool v4 = false;
    if (const quint32 address = host.toIPv4Address(&v4); v4)
        host = QHostAddress(address);
    QString where = tr(text::kAddressPort).arg(host.toString()).arg(offer.port);
    // Allowed only while the server itself is here, as behind a local bouncer or tunnel, where a
    // stranger's offer may point at any program on this machine.
    if (host.isLoopback())
        where += tr(text::kThisMachine);
    return where + QLatin1Char('\n') + protectionText(offer);
}

QString OfferInbox::protectionText(const irc::DccOffer& offer)
{
    // A Blowfish chat is offered as a plain one: its key comes over the link once connected,
    // so the question can only say that it may follow.
    switch (offer.kind) {
    case irc::DccKind::Chat:
        return tr(offer.secure ? text::kOfferTlsChat : text::kOfferPlainChat);
    case irc::DccKind::Send:
        return tr(offer.secure ? text::kOfferTlsFile : text::kOfferPlainFile);
    case irc::DccKind::Voice:
        break;
    }
    return tr(text::kOfferPlainVoice);
}

OfferInbox::OfferInbox(config::Prompter& prompter, peer::ChatSessions& chats,
                       peer::Transfers& transfers, peer::VoiceChats& voice,
                       ServerOnLoopback serverOnLoopback, QObject* parent)
    : QObject(parent)
    , m_prompter(prompter)
    , m_chats(chats)
    , m_transfers(transfers)
    , m_voice(voice)
    , m_serverOnLoopback(std::move(serverOnLoopback))
{}

void OfferInbox::receive(const irc::DccOffer& offer)
{
    if (const auto refusal = irc::offerRefusal(offer, m_serverOnLoopback())) {
        diag::DebugLog(*refusal);
        return;
    }
    // The answer to a voice chat the user started is part of it: no question, no waiting.
    if (m_voice.answersOurOffer(offer)) {
        m_voice.accept(offer);
        return;
    }
    // So is the answer to a passive offer of ours: the peer listens where it says.
    if (m_transfers.answersOurOffer(offer)) {
        m_transfers.takeAnswer(offer);
        return;
    }
    if (m_chats.answersOurOffer(offer)) {
        m_chats.takeAnswer(offer);
        return;
    }
    if (!offer.token.isEmpty() && offer.port != 0) {
        // An answer to an offer we never made, or no longer wait on.
        diag::DebugLog(QString::fromLatin1(text::kLogUnknownToken).arg(nickText(offer.sender)));
        return;
    }
    switch (m_pending.tryBegin()) {
    case irc::PendingOffers::Admission::Admitted:
        break;
    case irc::PendingOffers::Admission::RefusedFirst:
        diag::DebugLog(QString::fromLatin1(text::kLogTooManyOffers));
        return;
    case irc::PendingOffers::Admission::Refused:
        return;
    }
    emit attentionNeeded();
    switch (offer.kind) {
    case irc::DccKind::Chat:
        askChat(offer);
        break;
    case irc::DccKind::Send:
        askFile(offer);
        break;
    case irc::DccKind::Voice:
        askVoice(offer);
        break;
    }
    m_pending.end();
}

void OfferInbox::askChat(const irc::DccOffer& offer)
{
    // "Secure" only for a private offer: a plain one carries its lines in clear.
    const QString question = offer.secure ? tr(text::kAskSecureChat) : tr(text::kAskChat);
    if (m_prompter.ask(m_owner, {tr(text::kAcceptDccChat), question.arg(nickText(offer.sender)),
                                 whereText(offer)}))
        m_chats.acceptOffer(offer);
    else
        emit declined(offer);
}

void OfferInbox::askFile(const irc::DccOffer& offer)
{
    const auto name = irc::SafeFileName(offer.fileName);
    if (!name) {
        diag::DebugLog(QString::fromLatin1(text::kLogNoFileName).arg(nickText(offer.sender)));
        return;
    }
    const QString fileName = fileNameText(*name);
    if (!m_prompter.ask(m_owner,
                        {tr(text::kAcceptFile),
                         tr(text::kAskFile).arg(nickText(offer.sender), fileName),
                         peer::sizeText(offer.size) + QLatin1Char('\n') + whereText(offer)})) {
        emit declined(offer);
        return;
    }
    // A bare name would land in whatever folder the program was started from.
    const QString folder = downloadFolder();
    const auto path = askDestination(QDir(folder).filePath(fileName));
    if (!path) {
        emit declined(offer);
        return;
    }
    // Made for a file the user chose to keep in it, not for every offer that proposed it.
    if (QFileInfo(*path).absolutePath() == QDir(folder).absolutePath())
        QDir().mkpath(folder);
    m_transfers.receive(offer, *path, askResume(offer, *path));
}

quint64 OfferInbox::askResume(const irc::DccOffer& offer, const QString& path)
{
    // What an earlier, broken-off transfer left behind can be carried on from where it ended,
    // once the user has seen what it is.
    const QFileInfo part(peer::FileReceiver::partPath(path));
    if (isNoFile(part) || !part.exists() || part.size() <= 0 || quint64(part.size()) >= offer.size)
        return 0;
    const QString what = tr(text::kPartFileState)
                             .arg(part.filePath())
                             .arg(part.size())
                             .arg(QLocale().toString(part.lastModified(), QLocale::LongFormat));
    if (!m_prompter.ask(m_owner,
                        {tr(text::kResumeFile),
                         tr(text::kAskResume).arg(path).arg(part.size()).arg(offer.size), what}))
        return 0;
    return quint64(part.size());
}

std::optional<QString> OfferInbox::askDestination(const QString& proposed)
{
    config::InputRequest request{tr(text::kDestinationPrompt), tr(text::kSaveIncomingFile),
                                 proposed, true, config::kPathTextLimit};
    while (true) {
        auto path = m_prompter.getInput(m_owner, request);
        if (!path || path->isEmpty())
            return std::nullopt;
        request.text = *path;
        const QFileInfo info(*path);
        if (isNoFile(info)) {
            const auto error = peer::TransferError::DestinationNotAFile;
            m_prompter.showError(m_owner, peer::errorTitle(error), peer::errorText(error, *path));
            continue;
        }
        // The file is written fresh, so replacing one is the user's decision.
        if (!info.exists()
            || m_prompter.ask(m_owner, tr(text::kReplaceFile), tr(text::kAskReplace).arg(*path)))
            return path;
    }
}

QString OfferInbox::downloadFolder()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (folder.isEmpty() || folder == QDir::homePath())
        folder = QDir::home().filePath(QStringLiteral("Downloads"));
    return folder;
}

void OfferInbox::askVoice(const irc::DccOffer& offer)
{
    // The sound module loads while the user reads the question.
    m_voice.prepareSound();
    if (m_prompter.ask(m_owner,
                       {tr(text::kAcceptVoiceChat),
                        tr(text::kAskVoiceChat).arg(nickText(offer.sender)), whereText(offer)}))
        m_voice.accept(offer);
}

void OfferInbox::follow(irc::ServerEvents& events)
{
    connect(&events, &irc::ServerEvents::dccOffer, this, &OfferInbox::receive);
}

} // namespace app
