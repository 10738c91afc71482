#pragma once

#include "base/Decimal.h"
#include "config/ConfigHelper.h"

#include <QString>
#include <optional>

namespace tavlo::config {
class Config;
}

namespace tavlo::worker {

// Turns the extracted text of a numeric instrument into the text that is typed: decimal comma to point,
// the minus sign, exact reading, multiply or divide, rounding and the output decimal separator.
// Built once per run and reused for every record.
class NumberFormatter {
public:
    // Rounding precision and mode are given only when rounding is enabled, operation and operand only
    // when the math step is enabled; otherwise none.
    NumberFormatter(const config::Config& config, std::optional<int> roundingPrecision,
                    std::optional<base::RoundingMode> roundingMode,
                    const config::ConfigHelper::MathOperation* mathOperation, std::optional<base::Decimal> mathOperand);

    // `value` is not empty and holds no white space. Fails with NumberFormatException for a text that is
    // not a number and with ArithmeticException for a division by zero.
    QString format(const QString& value);

    // The number of the last call, after the math step.
    const base::Decimal& number() const { return m_number; }

private:
    std::optional<int> m_roundingPrecision;
    std::optional<base::RoundingMode> m_roundingMode;
    const config::ConfigHelper::MathOperation* m_mathOperation;
    std::optional<base::Decimal> m_mathOperand;
    QChar m_decimalSeparator;
    bool m_roundingEnabled;
    bool m_mathEnabled;
    base::Decimal m_number;
    QString m_text; // working buffer, reused between calls
};

} // namespace tavlo::worker
