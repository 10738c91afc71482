#pragma once

#include <QList>
#include <QMutex>
#include <QPair>
#include <QPlainTextEdit>
#include <QString>
#include <QTextCharFormat>

namespace tavlo {

// The window's run-time record: a read-only, fixed-pitch text view with named styles. Appends may come from
// any thread; they are queued to the GUI thread and shown in the order they were made. The view keeps only
// its last kMaxLines lines, so that a run of weeks does not grow memory without bound.
class EventLog : public QPlainTextEdit {
    Q_OBJECT
public:
    static constexpr int kMaxLines = 10000;
    // The property of a character format that holds the name of its style.
    static constexpr int kStyleProperty = QTextFormat::UserProperty + 1;

    using Span = QPair<QString, QString>; // text, style name

    explicit EventLog(QWidget* parent = nullptr);

    // Appends the text in the style ("regular" when the name is unknown); from any thread.
    void append(const QString& text, const QString& style);
    // Appends the spans as one unit, so that no other append comes between them; from any thread.
    void appendSpans(const QList<Span>& spans);

    // The format of a style: "default", "regular", "unknown", "important", "typed" or "ignored".
    QTextCharFormat style(const QString& name) const;
    static QStringList styleNames();

    // Shows the appends queued so far; the GUI thread calls it on its own, tests may call it directly.
    void flushPending();

private:
    void insertSpans(const QList<Span>& spans);

    QMutex m_mutex;
    QList<QList<Span>> m_pending;
    bool m_flushScheduled = false;
};

} // namespace tavlo
