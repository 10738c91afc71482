#pragma once

#include <QString>
#include <QStringView>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <gmpxx.h>
#include <optional>

namespace tavlo::base {

// The seven standard decimal rounding rules.
enum class RoundingMode { UP, DOWN, CEILING, FLOOR, HALF_UP, HALF_DOWN, HALF_EVEN };

// An exact decimal number: unscaled * 10^-scale, with an integer of any length. A negative scale
// means trailing zeros before the point. No operation goes through floating point.
//
// Every Decimal has a plain text (toPlainString) of at most kMaxPlainDigits digits; parse refuses
// longer numbers with NumberFormatException, the constructor and the arithmetic with
// ArithmeticException. This keeps a text such as "1E999999999" from making a billion digits.
// Zero is written "0" at any negative scale, so zero's scale is bounded from above only.
class Decimal {
public:
    static constexpr int64_t kMaxPlainDigits = 10000;

    Decimal();
    Decimal(const mpz_class& unscaled, int32_t scale);
    static Decimal fromLong(long long value);

    // Grammar: sign? (digits ('.' digits?)? | '.' digits) ([eE] sign? digits)?, ASCII only.
    // The scale is the number of fraction digits minus the exponent.
    static Decimal parse(QStringView text);
    static std::optional<Decimal> tryParse(QStringView text) noexcept;
    static bool isValid(QStringView text) noexcept;

    int32_t scale() const { return m_scale; }
    const mpz_class& unscaledValue() const { return m_unscaled; }
    int signum() const { return sgn(m_unscaled); }

    Decimal multiply(const Decimal& o) const;
    Decimal subtract(const Decimal& o) const;
    Decimal abs() const;
    Decimal negate() const;
    // The quotient rounded once, to exactly `scale` fraction digits.
    Decimal divide(const Decimal& divisor, int32_t scale, RoundingMode mode) const;
    Decimal setScale(int32_t newScale, RoundingMode mode) const;

    // By value: 2.0 and 2.00 are equal, and so are their hashes.
    int compareTo(const Decimal& o) const;
    bool operator==(const Decimal& o) const { return compareTo(o) == 0; }
    std::strong_ordering operator<=>(const Decimal& o) const { return compareTo(o) <=> 0; }
    std::size_t hash() const;

    // No exponent, exactly `scale` fraction digits (none and trailing zeros for a negative scale),
    // "-" in front of negative values only.
    QString toPlainString() const;
    // The same text written into `out`, whose storage is reused; for callers that format per record.
    void writePlainString(QString& out) const;

private:
    struct Unchecked {};
    Decimal(mpz_class&& unscaled, int32_t scale, Unchecked) noexcept;
    // Applies the digit limit to a result of the arithmetic.
    static Decimal checkedResult(mpz_class&& unscaled, int64_t scale);

    mpz_class m_unscaled;
    int32_t m_scale = 0;
};

inline std::size_t qHash(const Decimal& value, std::size_t seed = 0) {
    return value.hash() ^ (seed + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2));
}

} // namespace tavlo::base

template <> struct std::hash<tavlo::base::Decimal> {
    std::size_t operator()(const tavlo::base::Decimal& value) const { return value.hash(); }
};
