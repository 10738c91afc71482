#pragma once

#include "config/ConfigHelper.h"
#include "worker/Editor.h"
#include "worker/NumberFormatter.h"
#include "worker/Remover.h"

#include <QRegularExpression>
#include <QString>
#include <optional>

namespace tavlo::config {
class Config;
}

namespace tavlo::worker {

// Everything a run builds once to turn a raw record into the value to type: the compiled expression and its
// value group, the editor, the characters to remove and, for numeric instruments, the number formatter.
// Workers, the self-test and the command line all process records through this one class.
class RecordProcessor {
public:
    explicit RecordProcessor(const config::Config& config);

    // The expression in use: the custom one when set, else the instrument's.
    const QRegularExpression& expression() const { return m_expression; }
    bool isExpressionValid() const { return m_expression.isValid(); }
    int captureGroup() const { return m_captureGroup; }
    bool isText() const { return m_text; }

    // The value group of the first match, before any editing (empty when nothing matches). With
    // "replaceControlCharacters" set, the record is searched with its control characters replaced.
    QString extract(const QString& record) const;
    // A record's way through the chain: the extracted value, where it stands in the record (offsets -1 when
    // nothing matched; always offsets of the record as received, also when control characters were replaced
    // before the search) and the value to type. The profile's rules look at the record as received.
    struct Result {
        QString extracted;
        qsizetype start = -1;
        qsizetype end = -1;
        QString value;
        // The unit the record carries after the value (empty: none or the profile has no unit rule).
        QString unit;
        // Whether the instrument marks the reading stable; none when the profile has no stability rule.
        std::optional<bool> stable;
        // The record is the instrument's mark of a reading over or under its range: never a value.
        bool overload = false;
        // The record is the instrument's answer to a tare or zero command: logged, never a value.
        bool acknowledgement = false;
        // A text instrument's record of which control characters inside kept a part out of the value, while
        // they are not replaced.
        bool cutByControlCharacters = false;
    };
    // The whole chain with the extracted value's place; throws the record's failure.
    Result run(const QString& record);
    // The whole chain. Numbers: extract, edit, remove characters, delete white space, format.
    // Text: extract with group 1, edit, remove characters. Throws the record's failure.
    QString process(const QString& record);
    // The chain after extraction, for a value already taken from the record.
    QString processValue(QString value);
    // With "stable values only" on and a profile that has a stability rule: whether the instrument marks the
    // record as an unstable reading. Always false otherwise.
    bool isUnstable(const QString& record) const {
        return m_stableOnly && m_unstableRule && m_unstableRule->match(record).hasMatch();
    }
    // Whether the profile's overload rule marks the record as over or under the instrument's range.
    bool isOverload(const QString& record) const { return m_overloadRule && m_overloadRule->match(record).hasMatch(); }
    // Whether the record is the instrument's answer to a tare or zero command.
    bool isAcknowledgement(const QString& record) const {
        return m_acknowledgementRule && m_acknowledgementRule->match(record).hasMatch();
    }

private:
    QRegularExpression m_expression;
    int m_captureGroup;
    bool m_text;
    Editor m_editor;
    Remover m_remover;
    std::optional<NumberFormatter> m_formatter;
    // The rules of the profile, each compiled once when the profile has it.
    std::optional<QRegularExpression> m_unstableRule;
    std::optional<QRegularExpression> m_overloadRule;
    std::optional<QRegularExpression> m_unitRule;
    std::optional<QRegularExpression> m_acknowledgementRule;
    bool m_stableOnly = false;
    // The text that replaces each run of control characters inside a record; empty: none are replaced.
    QString m_replacement;
};

// Deletes every white-space character (space, tab, line feed, vertical tab, form feed, carriage return).
QString deleteWhiteSpace(const QString& value);

} // namespace tavlo::worker
