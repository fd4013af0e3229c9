#include "diag/debug_log.h"

#include "diag/control_escape.h"

#include <QLoggingCategory>
#include <QMetaObject>
#include <QThread>

namespace diag {

namespace {

Q_LOGGING_CATEGORY(lcDebug, "kivvo.debug")

const QString kLineEnd = QStringLiteral("\r\n");

} // namespace

void BoundedPane::append(const QString& text)
{
    const int lineSize = int(text.size()) + int(kLineEnd.size());
    if (lineSize >= kLimit) {
        // Nothing older can stay next to it; its tail holds the part that matters most.
        m_text = (text + kLineEnd).right(kLimit);
        return;
    }
    const int excess = int(m_text.size()) + lineSize - kLimit;
    if (excess > 0) {
        // Drop whole lines from the top: cut just past the first line end that frees enough room.
        qsizetype cut = 0;
        while (cut < excess) {
            const qsizetype end = m_text.indexOf(kLineEnd, cut);
            if (end < 0) {
                cut = m_text.size();
                break;
            }
            cut = end + kLineEnd.size();
        }
        m_text.remove(0, cut);
    }
    m_text += text;
    m_text += kLineEnd;
}

DebugPanes& DebugPanes::instance()
{
    static DebugPanes panes;
    return panes;
}

void DebugPanes::append(Pane pane, const QString& text)
{
    // The panes hold what servers and peers sent; copied out of the window into a terminal, it
    // must not act there, and a line break inside it must not start a line someone made up. A
    // line end of the text's own, at its end, stays: a command sent by hand is logged with it.
    const bool ownEnd = text.endsWith(kLineEnd);
    const QString stored = escapeControls(ownEnd ? text.chopped(kLineEnd.size()) : text)
                           + (ownEnd ? kLineEnd : QString());
    (pane == Pane::Info ? m_info : m_status).append(stored);
    emit appended(pane, stored);
}

const QString& DebugPanes::text(Pane pane) const
{
    return pane == Pane::Info ? m_info.text() : m_status.text();
}

void DebugPanes::clear()
{
    m_status = BoundedPane();
    m_info = BoundedPane();
}

void DebugLog(const QString& text, int pane)
{
    if (pane != int(Pane::Status) && pane != int(Pane::Info))
        return;
    const Pane target = static_cast<Pane>(pane);
    qCInfo(lcDebug).noquote() << (target == Pane::Info ? "[info]" : "[status]") << text;

    // The panes feed widgets, so a line logged off the GUI thread is handed over to it.
    DebugPanes& panes = DebugPanes::instance();
    if (QThread::currentThread() == panes.thread()) {
        panes.append(target, text);
    } else {
        QMetaObject::invokeMethod(
            &panes, [&panes, target, text] { panes.append(target, text); }, Qt::QueuedConnection);
    }
}

} // namespace diag
