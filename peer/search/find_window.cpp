#include "peer/search/find_window.h"

#include "diag/control_escape.h"
#include "peer/search/log_search.h"
#include "peer/search/match_delegate.h"
#include "peer/search/search_text.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace peer {

namespace {

enum Column { kContact, kTime, kLine };
constexpr int kOffsetRole = Qt::UserRole + 1;
constexpr int kNickRole = Qt::UserRole + 2;

QByteArray nickOfLog(const QString& log)
{
    return (log.endsWith(QLatin1String(".txt")) ? log.chopped(4) : log).toUtf8();
}

} // namespace

FindWindow::FindWindow(QWidget* parent)
    : QDialog(parent, Qt::Window)
{
    setWindowTitle(tr("Find"));
    m_input = new QLineEdit(this);
    m_input->setMaxLength(SearchText::kMaxLength);
    m_input->setPlaceholderText(tr("Words or signs said in a chat"));
    m_input->setClearButtonEnabled(true);
    m_status = new QLabel(this);
    m_status->setTextFormat(Qt::PlainText);
    m_progress = new QLabel(this);
    m_progress->setTextFormat(Qt::PlainText);
    m_progress->hide();
    m_results = new QTreeWidget(this);
    m_results->setColumnCount(3);
    m_results->setHeaderLabels({tr("Contact"), tr("Time"), tr("Line")});
    m_results->setRootIsDecorated(false);
    m_results->setUniformRowHeights(true);
    m_results->setItemDelegateForColumn(kLine, new MatchDelegate(m_results));
    m_results->header()->setStretchLastSection(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_input);
    layout->addWidget(m_progress);
    layout->addWidget(m_results, 1);
    layout->addWidget(m_status);
    resize(640, 420);

    m_pause = new QTimer(this);
    m_pause->setSingleShot(true);
    m_pause->setInterval(kPauseMs);
    connect(m_input, &QLineEdit::textChanged, m_pause, qOverload<>(&QTimer::start));
    connect(m_pause, &QTimer::timeout, this, [this] {
        m_asked = SearchText::from(m_input->text()).needle;
        m_results->clear();
        m_status->clear();
        if (!m_asked.isEmpty())
            emit searchAsked(m_input->text());
    });
    connect(m_results, &QTreeWidget::itemActivated, this, &FindWindow::choose);
    connect(m_input, &QLineEdit::returnPressed, this, [this] {
        if (!m_results->currentItem() && m_results->topLevelItemCount() > 0)
            m_results->setCurrentItem(m_results->topLevelItem(0));
        choose();
    });
}

void FindWindow::setScope(const std::optional<QByteArray>& nick)
{
    m_scope = nick;
    setWindowTitle(
        nick ? tr("Find in the chat with %1").arg(diag::escapeControls(QString::fromUtf8(*nick)))
             : tr("Find in all chats"));
    m_results->clear();
    if (!m_input->text().isEmpty())
        m_pause->start();
}

void FindWindow::showHits(const QList<LogHit>& hits)
{
    m_results->clear();
    QList<QTreeWidgetItem*> items;
    for (const LogHit& hit : hits) {
        auto* item = new QTreeWidgetItem;
        const QByteArray nick = nickOfLog(hit.log);
        // What others wrote stays plain text on one line: escapes, never markup or line breaks.
        item->setText(kContact, diag::escapeControls(QString::fromUtf8(nick)));
        item->setText(kTime, QLocale().toString(hit.at.toLocalTime(), QLocale::ShortFormat));
        const QString line = diag::escapeControls(hit.text);
        item->setText(kLine, line);
        item->setData(kLine, kMatchRangesRole, QVariant::fromValue(matchRanges(line, m_asked)));
        item->setData(kContact, kNickRole, nick);
        item->setData(kContact, kOffsetRole, hit.offset);
        items << item;
    }
    m_results->addTopLevelItems(items);
    m_results->resizeColumnToContents(kContact);
    m_results->resizeColumnToContents(kTime);
    if (hits.isEmpty())
        m_status->setText(tr("No line holds \"%1\".").arg(m_asked));
    else if (hits.size() >= LogSearch::kMaxHits)
        m_status->setText(tr("The newest %1 lines.").arg(hits.size()));
    else
        m_status->setText(hits.size() == 1 ? tr("1 line.") : tr("%1 lines.").arg(hits.size()));
}

void FindWindow::showProgress(qint64 done, qint64 total)
{
    m_progress->setVisible(done < total);
    if (done < total && total > 0)
        m_progress->setText(tr("Indexing the chat logs: %1%. Lines not indexed yet are not found.")
                                .arg(done * 100 / total));
}

void FindWindow::showUnavailable(const QString& why)
{
    m_progress->setText(tr("The chat logs cannot be searched: %1").arg(why));
    m_progress->show();
}

void FindWindow::choose()
{
    const QTreeWidgetItem* item = m_results->currentItem();
    if (item)
        emit lineChosen(item->data(kContact, kNickRole).toByteArray(),
                        item->data(kContact, kOffsetRole).toLongLong());
}

} // namespace peer
