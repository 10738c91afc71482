#include "worker/RecordPreview.h"

#include "base/Exceptions.h"
#include "config/Config.h"
#include "config/Instrument.h"
#include "worker/Acquisition.h"
#include "worker/DataLine.h"
#include "worker/RecordProcessor.h"

namespace tavlo::worker {

using H = config::ConfigHelper;

namespace {

std::optional<QString> unescape(const QString& text, QString* error) {
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c != u'\\') {
            out += c;
            continue;
        }
        if (++i >= text.size()) {
            if (error)
                *error = QStringLiteral("The sample ends with a lone backslash; write \\\\ for a backslash.");
            return std::nullopt;
        }
        const char16_t e = text[i].unicode();
        switch (e) {
        case u'a':
            out += QChar(7);
            break;
        case u'b':
            out += QChar(8);
            break;
        case u't':
            out += QChar(9);
            break;
        case u'n':
            out += QChar(10);
            break;
        case u'v':
            out += QChar(11);
            break;
        case u'f':
            out += QChar(12);
            break;
        case u'r':
            out += QChar(13);
            break;
        case u'e':
            out += QChar(27);
            break;
        case u'\\':
        case u'"':
        case u'\'':
        case u'?':
            out += QChar(e);
            break;
        case u'x': {
            int value = 0;
            int digits = 0;
            const auto hexDigit = [](QChar h) {
                const char16_t d = h.unicode();
                return d >= u'0' && d <= u'9'   ? d - u'0'
                       : d >= u'a' && d <= u'f' ? d - u'a' + 10
                       : d >= u'A' && d <= u'F' ? d - u'A' + 10
                                                : -1;
            };
            while (digits < 2 && i + 1 < text.size() && hexDigit(text[i + 1]) >= 0) {
                value = value * 16 + hexDigit(text[i + 1]);
                ++digits;
                ++i;
            }
            if (digits == 0) {
                if (error)
                    *error = QStringLiteral("\\x needs one or two hexadecimal digits.");
                return std::nullopt;
            }
            out += QChar(static_cast<char16_t>(value));
            break;
        }
        default:
            if (e >= u'0' && e <= u'7') {
                int value = e - u'0';
                for (int n = 1; n < 3 && i + 1 < text.size() && text[i + 1] >= u'0' && text[i + 1] <= u'7'; ++n)
                    value = value * 8 + (text[++i].unicode() - u'0');
                if (value > 255) {
                    if (error)
                        *error = QStringLiteral("An octal escape stands for a byte: at most \\377.");
                    return std::nullopt;
                }
                out += QChar(static_cast<char16_t>(value));
                break;
            }
            if (error)
                *error = QStringLiteral("Unknown escape \\%1.").arg(QChar(e));
            return std::nullopt;
        }
    }
    return out;
}

QString keyName(const char* name) {
    return QStringLiteral("<%1>").arg(QLatin1String(name));
}

} // namespace

std::optional<QStringList> frameSample(const QString& sample, int terminator, QString* error) {
    std::optional<QString> text = unescape(sample, error);
    if (!text)
        return std::nullopt;
    const QChar end(static_cast<char16_t>(terminator));
    if (text->isEmpty())
        return QStringList();
    // A line end left after the last terminator ("\r\n" with CR as terminator) only starts the next record
    // in a run; alone it is no record to show.
    qsizetype tail = text->size();
    while (tail > 0 && (text->at(tail - 1) == u'\r' || text->at(tail - 1) == u'\n') && text->at(tail - 1) != end)
        --tail;
    if (tail > 0 && tail < text->size() && text->at(tail - 1) == end)
        text->truncate(tail);
    if (!text->endsWith(end))
        *text += end;
    QStringList records;
    qsizetype from = 0;
    for (qsizetype at = text->indexOf(end); at >= 0; at = text->indexOf(end, from)) {
        records.append(text->mid(from, at + 1 - from));
        from = at + 1;
    }
    return records;
}

QList<RecordPreview> previewRecords(const config::Config& config, const QStringList& records) {
    QList<RecordPreview> out;
    std::optional<RecordProcessor> processor;
    QString setupFailure;
    try {
        processor.emplace(config);
        if (!processor->isExpressionValid())
            setupFailure = QStringLiteral("The expression is not valid: ") + processor->expression().errorString();
    } catch (const base::TavloException& failure) {
        setupFailure = failure.message();
    }
    const H::Instrument* instrument = config.getInstrument() ? config.getInstrument() : H::Instrument::getDefault();
    const H::KeyboardType* keyboard =
        config.getKeyboardType() ? config.getKeyboardType() : H::KeyboardType::getDefault();
    const auto keyMap = H::KeyboardType::getKeymap(keyboard, instrument->getKeyMapType());

    for (const QString& record : records) {
        RecordPreview p;
        p.record = record;
        if (!setupFailure.isEmpty()) {
            p.reason = setupFailure;
            out.append(p);
            continue;
        }
        RecordProcessor::Result result;
        try {
            result = processor->run(record);
        } catch (const base::TavloException& failure) {
            p.reason = failure.message();
            out.append(p);
            continue;
        } catch (const std::exception& failure) {
            p.reason = QString::fromUtf8(failure.what());
            out.append(p);
            continue;
        }
        p.matched = result.start >= 0;
        p.extracted = result.extracted;
        p.value = result.value;
        DataLine line(record, p.value, 1, Instant(), false, result.start, result.end);
        if (processor->isUnstable(record))
            line.markUnstable();
        p.logLine = Acquisition::logLine(line);
        if (line.isUnstable()) {
            p.reason = QStringLiteral("The instrument marks this reading as unstable (or overloaded): with \"Type "
                                      "stable values only\" nothing is typed.");
        } else if (!p.matched) {
            p.reason = QStringLiteral("The expression does not match the record: nothing is typed.");
        } else if (p.value.isEmpty()) {
            p.reason = QStringLiteral("The value is empty: nothing is typed.");
        } else {
            QString missing;
            for (const char32_t c : p.value.toUcs4())
                if (!keyMap.contains(c))
                    missing += QString::fromUcs4(&c, 1);
            if (!missing.isEmpty())
                p.reason =
                    QStringLiteral("The keyboard layout cannot type: ") + DataLine::transformControlChars(missing);
            const H::StartWith* start = config.getStartWith();
            const H::OutputTerminator* end = config.getOutputTerminator();
            if (start && start != &H::StartWith::NONE)
                p.typed += keyName(start->nameLatin1());
            p.typed += p.value;
            if (end && end != &H::OutputTerminator::NONE)
                p.typed += keyName(end->nameLatin1());
            const H::OutputTerminator* end2 = config.getOutputTerminator2();
            const auto every = H::parseInteger(config.getEveryXValues());
            if (every && *every > 1 && end2)
                p.reason += (p.reason.isEmpty() ? QString() : QStringLiteral(" ")) +
                            QStringLiteral("Of every %1 values, the last ends with %2 instead.")
                                .arg(*every)
                                .arg(end2 == &H::OutputTerminator::NONE ? QStringLiteral("nothing")
                                                                        : keyName(end2->nameLatin1()));
        }
        out.append(p);
    }
    return out;
}

} // namespace tavlo::worker
