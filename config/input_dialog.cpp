#include "config/input_dialog.h"

#include "config/prompter.h"
#include "config/texts.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

namespace config {

InputDialog::InputDialog(const InputRequest& request, Prompter& prompter, QWidget* parent)
    : QDialog(parent)
    , m_prompter(prompter)
{
    setWindowTitle(request.title);
    m_prompt = new QLabel(request.prompt, this);
    // The prompt may name a nick from the network ("Set key..."): never markup Qt guessed at.
    m_prompt->setTextFormat(Qt::PlainText);
    m_prompt->setWordWrap(true);
    m_edit = new QLineEdit(this);
    // A limit shorter than the text given would cut it without a word.
    m_edit->setMaxLength(qMax(request.maxLength, int(request.text.size())));
    m_edit->setText(request.text);
    m_ok = new QPushButton(tr(text::kOk), this);
    m_ok->setDefault(true);
    m_cancel = new QPushButton(tr(text::kCancel), this);
    m_browse = new QPushButton(tr(text::kBrowseEllipsis), this);
    m_browse->setVisible(request.showBrowse);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_browse);
    buttons->addStretch();
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_prompt);
    layout->addWidget(m_edit);
    layout->addLayout(buttons);

    connect(m_ok, &QPushButton::clicked, this, &InputDialog::accept);
    connect(m_cancel, &QPushButton::clicked, this, &InputDialog::reject);
    connect(m_browse, &QPushButton::clicked, this, &InputDialog::browse);
    m_edit->setFocus();
    if (request.maxLength >= kPathTextLimit)
        widenForPath(request.text);
}

void InputDialog::widenForPath(const QString& path)
{
    // A path is read at a glance only when it shows whole, as far as the screen allows.
    const QFontMetrics metrics(m_edit->font());
    int width =
        std::max(kPathBoxWidth, metrics.horizontalAdvance(path) + 4 * metrics.averageCharWidth());
    if (const QScreen* screen = this->screen())
        width =
            std::min(width, std::max(kPathBoxWidth, screen->availableGeometry().width() * 4 / 5));
    m_edit->setMinimumWidth(width);
}

QString InputDialog::text() const
{
    return m_edit->text();
}

void InputDialog::accept()
{
    if (m_edit->text().isEmpty()) {
        m_prompter.showError(this, tr(text::kError), tr(text::kNothingEntered));
        return;
    }
    QDialog::accept();
}

void InputDialog::browse()
{
    if (const auto path = m_prompter.browseForFile(this))
        m_edit->setText(*path);
}

} // namespace config
