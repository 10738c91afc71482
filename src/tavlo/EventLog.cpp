#include "tavlo/EventLog.h"

#include <QFontDatabase>
#include <QMetaObject>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>

namespace tavlo {

namespace {

// The platform's own fixed-pitch font exists on every desktop, unlike any font named here.
QFont logFont() {
    return QFontDatabase::systemFont(QFontDatabase::FixedFont);
}

} // namespace

EventLog::EventLog(QWidget* parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
    setUndoRedoEnabled(false);
    // Long lines such as the port's opening line wrap, so that they read without scrolling sideways.
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setFont(logFont());
    setMaximumBlockCount(kMaxLines);
}

QStringList EventLog::styleNames() {
    return {QStringLiteral("default"),   QStringLiteral("regular"), QStringLiteral("unknown"),
            QStringLiteral("important"), QStringLiteral("typed"),   QStringLiteral("ignored")};
}

QTextCharFormat EventLog::style(const QString& name) const {
    // "default" is the base, "regular" derives from it, and the four others from "regular".
    QTextCharFormat format;
    format.setForeground(palette().text());
    format.setFontWeight(QFont::Normal);
    if (name == QLatin1String("unknown")) {
        format.setForeground(QColor(0xB0, 0x00, 0x00));
        format.setFontItalic(true);
    } else if (name == QLatin1String("important")) {
        format.setFontWeight(QFont::Bold);
    } else if (name == QLatin1String("typed")) {
        format.setFontUnderline(true);
        format.setFontWeight(QFont::Bold);
        format.setForeground(QColor(0x00, 0x60, 0x00));
    } else if (name == QLatin1String("ignored")) {
        format.setForeground(QColor(0x80, 0x80, 0x80));
    }
    const QString known = styleNames().contains(name) ? name : QStringLiteral("regular");
    format.setProperty(kStyleProperty, known);
    return format;
}

void EventLog::append(const QString& text, const QString& style) {
    appendSpans({Span(text, style)});
}

void EventLog::appendSpans(const QList<Span>& spans) {
    bool schedule = false;
    {
        QMutexLocker lock(&m_mutex);
        m_pending.append(spans);
        schedule = !m_flushScheduled;
        m_flushScheduled = true;
    }
    // Also from the GUI thread the append is queued, so that its order with the other threads' appends holds.
    if (schedule)
        QMetaObject::invokeMethod(this, &EventLog::flushPending, Qt::QueuedConnection);
}

void EventLog::flushPending() {
    QList<QList<Span>> pending;
    {
        QMutexLocker lock(&m_mutex);
        pending.swap(m_pending);
        m_flushScheduled = false;
    }
    for (const auto& spans : pending)
        insertSpans(spans);
}

void EventLog::insertSpans(const QList<Span>& spans) {
    QScrollBar* bar = verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    for (const Span& span : spans) {
        // Line feeds become block breaks, so that the line bound of the document counts log lines.
        const QStringList parts = span.first.split(QLatin1Char('\n'));
        const QTextCharFormat format = style(span.second);
        for (qsizetype i = 0; i < parts.size(); ++i) {
            if (i > 0)
                cursor.insertBlock(QTextBlockFormat(), format);
            if (!parts[i].isEmpty())
                cursor.insertText(parts[i], format);
        }
    }
    if (atEnd)
        bar->setValue(bar->maximum());
}

} // namespace tavlo
