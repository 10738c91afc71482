#include "worker/NumberFormatter.h"

#include "base/Exceptions.h"
#include "config/Config.h"

namespace tavlo::worker {

using H = config::ConfigHelper;

NumberFormatter::NumberFormatter(const config::Config& config, std::optional<int> roundingPrecision,
                                 std::optional<base::RoundingMode> roundingMode, const H::MathOperation* mathOperation,
                                 std::optional<base::Decimal> mathOperand)
    : m_roundingPrecision(roundingPrecision), m_roundingMode(roundingMode), m_mathOperation(mathOperation),
      m_mathOperand(std::move(mathOperand)),
      m_decimalSeparator(config.getDecimalSeparator() == &H::DecimalSeparator::COMMA ? u',' : u'.'),
      m_roundingEnabled(config.roundingEnabled() && roundingPrecision && roundingMode),
      m_mathEnabled(config.mathOperationEnabled() && mathOperation && m_mathOperand) {}

namespace {

// A minus sign at i belongs to an exponent ("1E-3", "2.e-1"): an "e" or "E" right before it that follows a
// digit or a point. After any other "e" ("E-5.0", a unit "ke-5.0") it is the value's sign.
bool isExponentSign(const QString& text, qsizetype i) {
    if (i < 2 || (text[i - 1] != u'e' && text[i - 1] != u'E'))
        return false;
    const QChar before = text[i - 2];
    return (before >= u'0' && before <= u'9') || before == u'.';
}

// Index of the first minus sign that is the value's sign.
qsizetype valueMinus(const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i)
        if (text[i] == u'-' && !isExponentSign(text, i))
            return i;
    return -1;
}

} // namespace

QString NumberFormatter::format(const QString& value) {
    m_text = value;
    m_text.replace(u',', u'.');

    // Everything up to the minus sign (a unit, a status letter) is dropped, the rest trimmed of control
    // characters and blanks, and a single minus sign put in front.
    const qsizetype minus = valueMinus(m_text);
    if (minus >= 0) {
        qsizetype start = minus + 1;
        qsizetype end = m_text.size();
        while (start < end && m_text[start].unicode() <= 32)
            ++start;
        while (end > start && m_text[end - 1].unicode() <= 32)
            --end;
        m_text = QChar(u'-') + m_text.mid(start, end - start);
    }

    base::Decimal number = base::Decimal::parse(m_text);
    int32_t scale = number.scale();

    if (m_mathEnabled) {
        if (m_mathOperation == &H::MathOperation::MULTIPLY) {
            number = number.multiply(*m_mathOperand);
            scale = number.scale();
        } else if (m_mathOperation == &H::MathOperation::DIVIDE && m_roundingPrecision && m_roundingMode) {
            if (m_mathOperand->signum() == 0)
                throw base::ArithmeticException(QStringLiteral("Division by zero"));
            number = number.divide(*m_mathOperand, *m_roundingPrecision, *m_roundingMode);
            scale = *m_roundingPrecision;
        }
    }

    // Rounding only ever removes decimals; it never pads. A negative scale keeps its trailing zeros as digits.
    base::Decimal written;
    if (m_roundingEnabled && scale > 0 && *m_roundingPrecision < scale)
        written = number.setScale(*m_roundingPrecision, *m_roundingMode);
    else
        written = number.setScale(scale < 0 ? 0 : scale, base::RoundingMode::DOWN);

    // Zero has no sign of its own, so a negative value that rounds to zero is written without a minus sign.
    QString out;
    written.writePlainString(out);
    if (m_decimalSeparator != u'.')
        out.replace(u'.', m_decimalSeparator);
    m_number = std::move(number);
    return out;
}

} // namespace tavlo::worker
