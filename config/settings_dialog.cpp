#include "config/settings_dialog.h"

#include "config/errors.h"
#include "config/password_keeper.h"
#include "config/prompter.h"
#include "config/registry.h"
#include "config/server_editor.h"
#include "config/store.h"

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
    setWindowTitle(tr("Options"));
    setModal(true);
    // Made in tab order: the groups first, then the buttons.
    QGroupBox* personal = makePersonalGroup();
    QGroupBox* away = makeAwayGroup();
    QGroupBox* servers = makeServersGroup();
    QGroupBox* general = makeGeneralGroup();
    m_ok = new QPushButton(tr("OK"), this);
    m_ok->setDefault(true);
    m_cancel = new QPushButton(tr("Cancel"), this);
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
    auto* servers = new QGroupBox(tr("Servers"), this);
    m_editServers = new QPushButton(tr("Edit Servers"), servers);
    m_serverpass = newTextEdit(servers);
    m_serverpass->setEchoMode(QLineEdit::Password);
    auto* layout = new QFormLayout(servers);
    layout->addRow(m_editServers);
    layout->addRow(tr("Server Password:"), m_serverpass);
    return servers;
}

QGroupBox* SettingsDialog::makeAwayGroup()
{
    auto* away = new QGroupBox(tr("Away Message"), this);
    m_away = newTextEdit(away);
    m_awayset = new QCheckBox(tr("Set Away Status"), away);
    auto* layout = new QFormLayout(away);
    layout->addRow(tr("Message:"), m_away);
    layout->addRow(m_awayset);
    return away;
}

QGroupBox* SettingsDialog::makePersonalGroup()
{
    auto* personal = new QGroupBox(tr("Personal Settings"), this);
    m_nick = newTextEdit(personal);
    m_altnick = newTextEdit(personal);
    m_realname = newTextEdit(personal);
    m_email = newTextEdit(personal);
    auto* layout = new QFormLayout(personal);
    layout->addRow(tr("Your Nick:"), m_nick);
    layout->addRow(tr("Alternate Nick:"), m_altnick);
    layout->addRow(tr("Real Name:"), m_realname);
    layout->addRow(tr("E-Mail Address:"), m_email);
    return personal;
}

QGroupBox* SettingsDialog::makeGeneralGroup()
{
    auto* general = new QGroupBox(tr("General Settings"), this);
    m_autoconnect = new QCheckBox(tr("Connect on startup"), general);
    m_queryip = new QCheckBox(tr("Query IRC server for IP (usually for networks)"), general);
    m_logging = new QCheckBox(tr("Enable logging"), general);
    m_fastsend = new QCheckBox(tr("Fast file sending"), general);
    m_reconnect = new QCheckBox(tr("Reconnect automatically"), general);
    m_notify = new QCheckBox(tr("Show desktop notifications"), general);
    m_passivedcc = new QCheckBox(tr("Passive direct connections (behind NAT)"), general);
    m_passivedcc->setToolTip(tr("Your chat and file offers ask the other side to listen, so "
                                "that they work when nobody can connect to you."));
    m_privatedcc = new QCheckBox(tr("Private direct connections (TLS)"), general);
    m_privatedcc->setToolTip(tr("Your chat and file offers run encrypted (SCHAT / SSEND); each "
                                "contact's certificate is pinned the first time."));
    m_ircv3 = new QCheckBox(tr("Use the server's IRCv3 extensions"), general);
    m_ircv3->setToolTip(tr("Away contacts, the server's own times, delivery marks, typing "
                           "and missed messages, where the server offers them."));
    m_typing = new QCheckBox(tr("Let others see when I am typing"), general);
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
    const QString nickBlank =
        tr("You left your nickname blank.  Please fill it in and press OK again.");
    // Every blank field gets its box, in the order of the fields, before anything is refused.
    std::vector<Box> boxes;
    if (settings.nick.isEmpty())
        boxes.push_back({tr("Nick Field"), nickBlank});
    if (settings.altnick.isEmpty())
        boxes.push_back({tr("Nick Field"), nickBlank});
    if (settings.realname.isEmpty()) {
        boxes.push_back({tr("Real Name Field"),
                         tr("You left your real name blank.  Please fill it in and press OK "
                            "again.")});
    }
    if (settings.email.isEmpty()) {
        boxes.push_back({tr("E-Mail Field"),
                         tr("You left your e-mail blank.  Please fill it in and press OK again.")});
    }
    if (settings.awayset && settings.away.isEmpty()) {
        boxes.push_back({tr("No Away Message"),
                         tr("You cannot set the away message option without actually entering "
                            "an away message.  Please type a message and press OK again.")});
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
