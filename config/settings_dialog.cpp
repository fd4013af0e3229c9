#include "config/settings_dialog.h"

#include "config/errors.h"
#include "config/password_keeper.h"
#include "config/prompter.h"
#include "config/registry.h"
#include "config/server_editor.h"
#include "config/store.h"
#include "config/texts.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <vector>

namespace config {

namespace {

constexpr int kTextLimit = kSettingsFieldSize - 1;

QLineEdit* newTextEdit(QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    edit->setMaxLength(kTextLimit);
    return edit;
}

QByteArray fieldText(const QLineEdit* edit)
{
    return utf8Prefix(edit->text(), kTextLimit);
}

struct Box
{
    QString title;
    QString text;
};

} // namespace

SettingsDialog::SettingsDialog(Store& store, Prompter& prompter, int serverIndex, QWidget* parent,
                               PasswordKeeper* passwords)
    : QDialog(parent)
    , m_store(store)
    , m_passwords(passwords)
    , m_prompter(prompter)
    , m_serverIndex(serverIndex)
{
    setWindowTitle(tr(text::kOptions));
    setModal(true);
    // Made in tab order: the groups first, then the buttons.
    QGroupBox* personal = makePersonalGroup();
    QGroupBox* away = makeAwayGroup();
    QGroupBox* servers = makeServersGroup();
    QGroupBox* general = makeGeneralGroup();
    m_ok = new QPushButton(tr(text::kOk), this);
    m_ok->setDefault(true);
    m_cancel = new QPushButton(tr(text::kCancel), this);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);

    auto* layout = new QGridLayout(this);
    layout->addWidget(personal, 0, 0);
    layout->addWidget(servers, 0, 1);
    layout->addWidget(away, 1, 0);
    layout->addWidget(general, 1, 1);
    layout->addLayout(buttons, 2, 0, 1, 2);

    connect(m_editServers, &QPushButton::clicked, this, &SettingsDialog::editServers);
    connect(m_ok, &QPushButton::clicked, this, &SettingsDialog::accept);
    connect(m_cancel, &QPushButton::clicked, this, &SettingsDialog::reject);
    load();
}

QGroupBox* SettingsDialog::makeServersGroup()
{
    auto* servers = new QGroupBox(tr(text::kServers), this);
    m_editServers = new QPushButton(tr(text::kEditServers), servers);
    m_serverpass = newTextEdit(servers);
    m_serverpass->setEchoMode(QLineEdit::Password);
    auto* layout = new QFormLayout(servers);
    layout->addRow(m_editServers);
    layout->addRow(tr(text::kServerPassword), m_serverpass);
    return servers;
}

QGroupBox* SettingsDialog::makeAwayGroup()
{
    auto* away = new QGroupBox(tr(text::kAwayMessage), this);
    m_away = newTextEdit(away);
    m_awayset = new QCheckBox(tr(text::kSetAwayStatus), away);
    m_away->setToolTip(tr(text::kAwayPublicTip));
    auto* layout = new QFormLayout(away);
    layout->addRow(tr(text::kAwayMessageLabel), m_away);
    layout->addRow(m_awayset);
    return away;
}

QGroupBox* SettingsDialog::makePersonalGroup()
{
    auto* personal = new QGroupBox(tr(text::kPersonalSettings), this);
    m_nick = newTextEdit(personal);
    m_altnick = newTextEdit(personal);
    m_realname = newTextEdit(personal);
    m_email = newTextEdit(personal);
    auto* layout = new QFormLayout(personal);
    layout->addRow(tr(text::kYourNick), m_nick);
    layout->addRow(tr(text::kAlternateNick), m_altnick);
    layout->addRow(tr(text::kRealName), m_realname);
    layout->addRow(tr(text::kEmailAddress), m_email);
    return personal;
}

QGroupBox* SettingsDialog::makeGeneralGroup()
{
    auto* general = new QGroupBox(tr(text::kGeneralSettings), this);
    m_autoconnect = new QCheckBox(tr(text::kConnectOnStartup), general);
    m_queryip = new QCheckBox(tr(text::kQueryIp), general);
    m_logging = new QCheckBox(tr(text::kEnableLogging), general);
    m_fastsend = new QCheckBox(tr(text::kFastFileSending), general);
    m_reconnect = new QCheckBox(tr(text::kReconnectAutomatically), general);
    m_notify = new QCheckBox(tr(text::kShowDesktopNotifications), general);
    m_passivedcc = new QCheckBox(tr(text::kPassiveDcc), general);
    m_passivedcc->setToolTip(tr(text::kPassiveDccTip));
    m_privatedcc = new QCheckBox(tr(text::kPrivateDcc), general);
    m_privatedcc->setToolTip(tr(text::kPrivateDccTip));
    m_ircv3 = new QCheckBox(tr(text::kUseIrcv3), general);
    m_ircv3->setToolTip(tr(text::kUseIrcv3Tip));
    m_typing = new QCheckBox(tr(text::kShareTyping), general);
    auto* layout = new QVBoxLayout(general);
    for (QCheckBox* box : {m_autoconnect, m_queryip, m_logging, m_fastsend, m_reconnect, m_notify,
                           m_passivedcc, m_privatedcc, m_ircv3, m_typing})
        layout->addWidget(box);
    return general;
}

void SettingsDialog::load()
{
    const Settings settings = m_store.LoadSettings();
    m_nick->setText(QString::fromUtf8(settings.nick));
    m_altnick->setText(QString::fromUtf8(settings.altnick));
    m_realname->setText(QString::fromUtf8(settings.realname));
    m_email->setText(QString::fromUtf8(settings.email));
    m_away->setText(QString::fromUtf8(settings.away));
    const std::optional<ServerEntry> server = currentServer();
    m_serverpass->setEnabled(server.has_value());
    const QByteArray password = !server       ? QByteArray()
                                : m_passwords ? m_passwords->serverPassword(*server)
                                              : m_store.serverPassword(*server);
    m_serverpass->setText(QString::fromUtf8(password));
    m_autoconnect->setChecked(settings.autoconnect);
    m_awayset->setChecked(settings.awayset);
    m_queryip->setChecked(settings.queryip);
    m_logging->setChecked(settings.logging);
    m_fastsend->setChecked(settings.fastsend);
    m_reconnect->setChecked(settings.reconnect);
    m_notify->setChecked(settings.notify);
    m_passivedcc->setChecked(settings.passivedcc);
    m_privatedcc->setChecked(settings.privatedcc);
    m_ircv3->setChecked(settings.ircv3);
    m_typing->setChecked(settings.typing);
}

Settings SettingsDialog::fromFields() const
{
    Settings settings;
    settings.nick = fieldText(m_nick);
    settings.altnick = fieldText(m_altnick);
    settings.realname = fieldText(m_realname);
    settings.email = fieldText(m_email);
    settings.away = fieldText(m_away);
    settings.awayset = m_awayset->isChecked();
    settings.autoconnect = m_autoconnect->isChecked();
    settings.queryip = m_queryip->isChecked();
    settings.logging = m_logging->isChecked();
    settings.fastsend = m_fastsend->isChecked();
    settings.reconnect = m_reconnect->isChecked();
    settings.notify = m_notify->isChecked();
    settings.passivedcc = m_passivedcc->isChecked();
    settings.privatedcc = m_privatedcc->isChecked();
    settings.ircv3 = m_ircv3->isChecked();
    settings.typing = m_typing->isChecked();
    return settings;
}

void SettingsDialog::accept()
{
    const Settings settings = fromFields();
    const QString nickBlank = tr(text::kNickBlank);
    // Every blank field gets its box, in the order of the fields, before anything is refused.
    std::vector<Box> boxes;
    if (settings.nick.isEmpty())
        boxes.push_back({tr(text::kNickField), nickBlank});
    if (settings.altnick.isEmpty())
        boxes.push_back({tr(text::kNickField), nickBlank});
    if (settings.realname.isEmpty()) {
        boxes.push_back({tr(text::kRealNameField), tr(text::kRealNameBlank)});
    }
    if (settings.email.isEmpty()) {
        boxes.push_back({tr(text::kEmailField), tr(text::kEmailBlank)});
    }
    if (settings.awayset && settings.away.isEmpty()) {
        boxes.push_back({tr(text::kNoAwayMessage), tr(text::kAwayMessageBlank)});
    }
    for (const Box& box : boxes)
        m_prompter.showError(this, box.title, box.text);
    if (!boxes.empty())
        return;
    const std::optional<ServerEntry> server = currentServer();
    const QByteArray password = fieldText(m_serverpass);
    const bool saved = m_store.registry().transact([&] {
        return m_store.SaveSettings(settings)
               && (!server
                   || (m_passwords ? m_passwords->setServerPassword(*server, password)
                                   : m_store.setServerPassword(*server, password)));
    });
    if (!saved) {
        m_prompter.showError(this, errorTitle(),
                             errorText(Error::SaveFailed, m_store.registry().path()));
        return;
    }
    QDialog::accept();
}

std::optional<ServerEntry> SettingsDialog::currentServer() const
{
    const std::vector<ServerEntry> servers = m_store.EnumServers();
    if (servers.empty())
        return std::nullopt;
    const bool inList = m_serverIndex >= 0 && m_serverIndex < int(servers.size());
    return servers[inList ? size_t(m_serverIndex) : 0];
}

void SettingsDialog::editServers()
{
    ServerEditor editor(m_store, m_prompter, this);
    editor.exec();
    load();
}

} // namespace config
