#include "worker/ControlCharacters.h"

#include "config/Config.h"
#include "config/Instrument.h"
#include "worker/DataLine.h"

namespace tavlo::worker {

using H = config::ConfigHelper;

ControlCharacterText::ControlCharacterText(const QString& record, const QString& replacement) {
    qsizetype first = 0;
    qsizetype last = record.size();
    while (first < last && isControlCharacter(record[first]))
        ++first;
    while (last > first && isControlCharacter(record[last - 1]))
        --last;
    m_text.reserve(last - first);
    m_begins.reserve(static_cast<size_t>(last - first));
    m_ends.reserve(static_cast<size_t>(last - first));
    for (qsizetype i = first; i < last;) {
        if (!isControlCharacter(record[i])) {
            m_text += record[i];
            m_begins.push_back(i);
            m_ends.push_back(i + 1);
            ++i;
            continue;
        }
        const qsizetype runStart = i;
        while (i < last && isControlCharacter(record[i]))
            ++i;
        for (const QChar c : replacement) {
            m_text += c;
            m_begins.push_back(runStart);
            m_ends.push_back(i);
        }
    }
    m_coreEnd = last;
}

qsizetype ControlCharacterText::recordStart(qsizetype start) const {
    if (start < 0)
        return -1;
    return start < m_text.size() ? m_begins[static_cast<size_t>(start)] : m_coreEnd;
}

qsizetype ControlCharacterText::recordEnd(qsizetype start, qsizetype end) const {
    if (end < 0)
        return -1;
    if (end <= start)
        return recordStart(start);
    return m_ends[static_cast<size_t>(end - 1)];
}

bool controlCharactersCutRecord(const QString& record, qsizetype start, qsizetype end) {
    qsizetype first = 0;
    qsizetype last = record.size();
    while (first < last && isControlCharacter(record[first]))
        ++first;
    while (last > first && isControlCharacter(record[last - 1]))
        --last;
    bool inner = false;
    for (qsizetype i = first; i < last && !inner; ++i)
        inner = isControlCharacter(record[i]);
    if (!inner)
        return false;
    // Content before or after the span, beyond a control character, was not taken.
    const qsizetype from = start < 0 ? last : start;
    const qsizetype to = end < 0 ? last : end;
    for (qsizetype i = first; i < from; ++i)
        if (isControlCharacter(record[i]))
            return true;
    for (qsizetype i = to; i < last; ++i)
        if (isControlCharacter(record[i]))
            return true;
    return false;
}

QString replacementProblem(const config::Config& config) {
    const QString& replacement = config.replaceControlCharacters;
    if (replacement.isEmpty())
        return {};
    const H::Instrument* instrument = config.getInstrument() ? config.getInstrument() : H::Instrument::getDefault();
    const H::KeyboardType* keyboard =
        config.getKeyboardType() ? config.getKeyboardType() : H::KeyboardType::getDefault();
    const auto keyMap = H::KeyboardType::getKeymap(keyboard, instrument->getKeyMapType());
    QString missing;
    for (const char32_t c : replacement.toUcs4())
        if (!keyMap.contains(c) && !missing.contains(QString::fromUcs4(&c, 1)))
            missing += QString::fromUcs4(&c, 1);
    if (missing.isEmpty())
        return {};
    return QStringLiteral("The text that replaces control characters, \"%1\", cannot be typed: the instrument %2 "
                          "with the keyboard type %3 has no key for %4. Choose characters the instrument's values "
                          "can hold (%5).")
        .arg(DataLine::transformControlChars(replacement), instrument->toString(), keyboard->toString(),
             DataLine::transformControlChars(missing),
             instrument->getKeyMapType() == H::KeyMapType::NUMERIC              ? QStringLiteral("digits and - + , .")
             : instrument->getKeyMapType() == H::KeyMapType::ALPHANUMERIC_BASIC ? QStringLiteral("digits, - + , . and "
                                                                                                 "capital letters")
                                                                                : QStringLiteral("printable ASCII"));
}

} // namespace tavlo::worker
