#include "worker/RecordProcessor.h"

#include "base/Expressions.h"
#include "config/Config.h"
#include "config/Instrument.h"
#include "worker/ControlCharacters.h"
#include "worker/Extraction.h"

namespace tavlo::worker {

using H = config::ConfigHelper;

namespace {

const H::Instrument* instrumentOf(const config::Config& config) {
    return config.getInstrument() ? config.getInstrument() : H::Instrument::getDefault();
}

std::optional<NumberFormatter> formatterFor(const config::Config& config) {
    if (instrumentOf(config)->getInstrumentType() == H::InstrumentType::TEXT)
        return std::nullopt;
    const bool rounding = config.roundingEnabled();
    const bool math = config.mathOperationEnabled();
    const H::RoundingMethod* method =
        config.getRoundingMethod() ? config.getRoundingMethod() : H::RoundingMethod::getDefault();
    return NumberFormatter(config, rounding ? config.getDecimalPlacesAsInt() : std::nullopt,
                           rounding ? std::optional(method->getRoundingMode()) : std::nullopt,
                           math ? config.getMathOperation() : nullptr,
                           math ? std::optional(config.getMathOperandAsBigDecimal()) : std::nullopt);
}

} // namespace

RecordProcessor::RecordProcessor(const config::Config& config)
    : m_expression(base::compileExpression(config.getCustomRegEx().isEmpty() ? instrumentOf(config)->getPattern()
                                                                             : config.getCustomRegEx())),
      m_captureGroup(instrumentOf(config)->getInstrumentType() == H::InstrumentType::TEXT
                         ? 1
                         : instrumentOf(config)->getCaptureGroup()),
      m_text(instrumentOf(config)->getInstrumentType() == H::InstrumentType::TEXT), m_editor(config), m_remover(config),
      m_formatter(formatterFor(config)), m_stableOnly(config.stableOnly),
      m_replacement(config.replaceControlCharacters) {
    const H::Instrument* instrument = instrumentOf(config);
    const auto compileRule = [](std::optional<QRegularExpression>& rule, const QString& pattern) {
        if (!pattern.isEmpty())
            rule = base::compileExpression(pattern);
    };
    // The stability rule is also shown when it does not decide what is typed.
    compileRule(m_unstableRule, instrument->getStabilityRule());
    compileRule(m_overloadRule, instrument->getOverloadRule());
    compileRule(m_unitRule, instrument->getUnitRule());
    compileRule(m_acknowledgementRule, instrument->getAcknowledgementRule());
}

QString RecordProcessor::extract(const QString& record) const {
    if (!m_replacement.isEmpty())
        return extractValue(m_expression, m_captureGroup, ControlCharacterText(record, m_replacement).text());
    return extractValue(m_expression, m_captureGroup, record);
}

RecordProcessor::Result RecordProcessor::run(const QString& record) {
    Result result;
    // The value is searched in the replaced text; its span and the unit are found there, and the span goes back
    // to the record's own offsets.
    std::optional<ControlCharacterText> replaced;
    if (!m_replacement.isEmpty())
        replaced.emplace(record, m_replacement);
    const QString& searched = replaced ? replaced->text() : record;
    ExtractedValue found = extractValueSpan(m_expression, m_captureGroup, searched);
    result.extracted = found.value;
    result.start = replaced ? replaced->recordStart(found.start) : found.start;
    result.end = replaced ? replaced->recordEnd(found.start, found.end) : found.end;
    result.acknowledgement = isAcknowledgement(record);
    result.overload = !result.acknowledgement && isOverload(record);
    if (m_unstableRule)
        result.stable = !m_unstableRule->match(record).hasMatch();
    if (m_unitRule && found.end >= 0) {
        const QRegularExpressionMatch unit = m_unitRule->match(searched, found.end);
        if (unit.hasMatch())
            result.unit = unit.captured(1);
    }
    result.cutByControlCharacters = m_text && !replaced && controlCharactersCutRecord(record, found.start, found.end);
    result.value = processValue(std::move(found.value));
    return result;
}

QString RecordProcessor::process(const QString& record) {
    return processValue(extract(record));
}

QString RecordProcessor::processValue(QString value) {
    if (m_editor.numCharacters() > 0)
        value = m_editor.edit(value);
    value = m_remover.removeCharacters(value);
    if (m_text)
        return value;
    value = deleteWhiteSpace(value);
    if (value.isEmpty() || !m_formatter)
        return value;
    return m_formatter->format(value);
}

QString deleteWhiteSpace(const QString& value) {
    qsizetype i = 0;
    const auto isSpace = [](QChar c) { return c == u' ' || (c.unicode() >= 9 && c.unicode() <= 13); };
    while (i < value.size() && !isSpace(value[i]))
        ++i;
    if (i == value.size())
        return value; // the common case: nothing to delete, no copy
    QString out = value.left(i);
    for (; i < value.size(); ++i)
        if (!isSpace(value[i]))
            out += value[i];
    return out;
}

} // namespace tavlo::worker
