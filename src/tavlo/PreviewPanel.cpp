#include "tavlo/PreviewPanel.h"

#include "config/Instrument.h"
#include "tavlo/EventLog.h"
#include "worker/Acquisition.h"
#include "worker/RecordPreview.h"

#include <QComboBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>

namespace tavlo {

namespace {

QLabel* valueLabel(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setWordWrap(true);
    return label;
}

} // namespace

QString escapeSample(const QString& record) {
    QString out;
    for (const QChar c : record) {
        switch (c.unicode()) {
        case u'\r':
            out += QStringLiteral("\\r");
            break;
        case u'\n':
            out += QStringLiteral("\\n");
            break;
        case u'\t':
            out += QStringLiteral("\\t");
            break;
        case u'\\':
            out += QStringLiteral("\\\\");
            break;
        default:
            if (c.unicode() < 32 || c.unicode() == 127)
                out += QStringLiteral("\\x%1").arg(int(c.unicode()), 2, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    return out;
}

PreviewPanel::PreviewPanel(SettingsSource settings, QWidget* parent)
    : QGroupBox(QStringLiteral("Try a record"), parent), m_settings(std::move(settings)) {
    sampleBox = new QComboBox(this);
    sampleBox->setToolTip(QStringLiteral("Sample records of the selected instrument"));
    recordField = new QLineEdit(this);
    recordField->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    recordField->setPlaceholderText(QStringLiteral("Paste or type a record, e.g. ST,GS,+0012.50 kg\\r\\n"));
    recordField->setToolTip(QStringLiteral("C escapes such as \\r, \\n, \\t and \\x02 stand for their bytes; the "
                                           "input terminator is added when the record does not end with it."));
    extractedLabel = valueLabel(this);
    typedLabel = valueLabel(this);
    reasonLabel = new QLabel(this);
    reasonLabel->setWordWrap(true);
    logView = new EventLog(this);
    logView->setFixedHeight(logView->fontMetrics().lineSpacing() * 3 + 12);
    logView->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("Samples:"), sampleBox);
    form->addRow(QStringLiteral("Re&cord:"), recordField); // Alt+C reaches the field from anywhere on the tab
    form->addRow(QStringLiteral("Extracted:"), extractedLabel);
    form->addRow(QStringLiteral("Typed:"), typedLabel);
    form->addRow(QStringLiteral("Event log:"), logView);
    form->addRow(QString(), reasonLabel);

    connect(recordField, &QLineEdit::textChanged, this, &PreviewPanel::refresh);
    connect(sampleBox, &QComboBox::activated, this, [this](int index) {
        if (index >= 0)
            recordField->setText(sampleBox->itemData(index).toString());
    });
}

void PreviewPanel::setInstrument(const config::ConfigHelper::Instrument* instrument) {
    if (instrument == m_instrument)
        return;
    m_instrument = instrument;
    const QSignalBlocker blocker(sampleBox);
    sampleBox->clear();
    if (instrument)
        for (const auto& sample : instrument->getTestStrings())
            if (!sample.first.isEmpty())
                sampleBox->addItem(escapeSample(sample.first), escapeSample(sample.first));
    sampleBox->setEnabled(sampleBox->count() > 0);
    if (recordField->text().isEmpty() && sampleBox->count() > 0)
        recordField->setText(sampleBox->itemData(0).toString()); // refreshes
    else
        refresh();
}

void PreviewPanel::refresh() {
    const config::Config config = m_settings();
    logView->clear();
    QString error;
    const auto records = worker::frameSample(recordField->text(), config.getInputTerminator(), &error);
    QStringList extracted, typed, reasons;
    if (!records) {
        reasons.append(error);
    } else {
        const QList<worker::RecordPreview> previews = worker::previewRecords(config, *records);
        for (const worker::RecordPreview& p : previews) {
            extracted.append(p.matched ? QStringLiteral("\"%1\"").arg(escapeSample(p.extracted))
                                       : QStringLiteral("(no match)"));
            typed.append(p.typed.isEmpty() ? QStringLiteral("(nothing)") : p.typed);
            if (!p.reason.isEmpty())
                reasons.append(previews.size() > 1
                                   ? QStringLiteral("Record %1: %2").arg(reasons.size() + 1).arg(p.reason)
                                   : p.reason);
            // Without the time stamp: the preview shows the record line only.
            QList<EventLog::Span> spans;
            for (const worker::LogSpan& span : p.logLine)
                spans.append({span.text, span.style});
            if (!spans.isEmpty() && spans.first().second == QLatin1String("regular"))
                spans.removeFirst();
            else if (!spans.isEmpty())
                spans.first().first.remove(0, worker::logTimeStamp(QDateTime::currentDateTime()).size());
            logView->appendSpans(spans);
        }
    }
    logView->flushPending();
    extractedLabel->setText(extracted.join(u'\n'));
    typedLabel->setText(typed.join(u'\n'));
    reasonLabel->setText(reasons.join(u'\n'));
}

} // namespace tavlo
