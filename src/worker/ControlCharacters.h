#pragma once

#include <QString>
#include <vector>

namespace tavlo::config {
class Config;
}

namespace tavlo::worker {

// Codes 0 to 31 and 127: the characters that no key map holds.
inline bool isControlCharacter(QChar c) {
    return c.unicode() < 32 || c.unicode() == 127;
}

// A record with its control characters replaced, as the record chain searches it when the setting is on: the
// control characters at its start and end are dropped (a CR LF reader framed at CR leaves the LF at the start of
// the next record) and each run of them inside becomes the replacement text. Offsets in the replaced text map
// back to the record, so that the event log marks the part of the original bytes the value came from.
class ControlCharacterText {
public:
    ControlCharacterText(const QString& record, const QString& replacement);

    const QString& text() const { return m_text; }
    // The record offsets of the span [start, end) of text(); an empty span maps to one point.
    qsizetype recordStart(qsizetype start) const;
    qsizetype recordEnd(qsizetype start, qsizetype end) const;

private:
    QString m_text;
    // For every character of m_text: where its part of the record begins and ends. A character of the
    // replacement stands for the whole run of control characters it replaced.
    std::vector<qsizetype> m_begins;
    std::vector<qsizetype> m_ends;
    qsizetype m_coreEnd = 0;
};

// Whether control characters inside the record kept part of its content out of the extracted span [start, end)
// (start -1: nothing matched): what a reader sends between the fields of a label, lost without the setting.
bool controlCharactersCutRecord(const QString& record, qsizetype start, qsizetype end);

// Why the replacement text of the settings cannot be used: the characters the key map of the instrument and
// keyboard type cannot type, with the message for the user; empty when the text can be typed or is not set.
QString replacementProblem(const config::Config& config);

} // namespace tavlo::worker
