#include "base/Decimal.h"

#include "base/Exceptions.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <limits>
#include <string>

namespace tavlo::base {

namespace {

// Exponents are read with saturation: anything beyond this cannot give a 32-bit scale anyway.
constexpr int64_t kExponentCap = int64_t(1) << 40;

bool isDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

// Number of digits (sign and point not counted) in the plain text of a number whose unscaled
// value has `digits` digits (0 for zero) at the given scale.
int64_t plainDigits(int64_t digits, int64_t scale) {
    if (digits == 0) {
        return scale > 0 ? scale + 1 : 1;
    }
    if (scale <= 0) {
        return digits - scale;
    }
    return std::max(digits, scale + 1);
}

// 10^k; the powers used per record come from a table built once.
const mpz_class& powerOfTen(uint64_t k, mpz_class& scratch) {
    static const std::array<mpz_class, 64> table = [] {
        std::array<mpz_class, 64> t;
        t[0] = 1;
        for (std::size_t i = 1; i < t.size(); ++i) {
            t[i] = t[i - 1] * 10;
        }
        return t;
    }();
    if (k < table.size()) {
        return table[k];
    }
    mpz_ui_pow_ui(scratch.get_mpz_t(), 10, static_cast<unsigned long>(k));
    return scratch;
}

// Digit count of |value|, exact (mpz_sizeinbase may say one too many).
int64_t exactDigits(const mpz_class& value) {
    if (sgn(value) == 0) {
        return 0;
    }
    auto digits = static_cast<int64_t>(mpz_sizeinbase(value.get_mpz_t(), 10));
    mpz_class scratch;
    if (digits > 1 && mpz_cmpabs(value.get_mpz_t(), powerOfTen(uint64_t(digits - 1), scratch).get_mpz_t()) < 0) {
        --digits;
    }
    return digits;
}

bool fitsPlainLimit(const mpz_class& unscaled, int64_t scale) {
    auto estimate = sgn(unscaled) == 0 ? 0 : static_cast<int64_t>(mpz_sizeinbase(unscaled.get_mpz_t(), 10));
    if (plainDigits(estimate, scale) <= Decimal::kMaxPlainDigits) {
        return true;
    }
    return plainDigits(exactDigits(unscaled), scale) <= Decimal::kMaxPlainDigits;
}

[[noreturn]] void throwTooLarge() {
    throw ArithmeticException(QStringLiteral("Decimal result beyond %1 digits").arg(Decimal::kMaxPlainDigits));
}

[[noreturn]] void throwScaleOverflow() {
    throw ArithmeticException(QStringLiteral("Decimal scale out of range"));
}

void setMagnitude(mpz_class& target, uint64_t value) {
    if constexpr (sizeof(unsigned long) >= sizeof(uint64_t)) {
        mpz_set_ui(target.get_mpz_t(), static_cast<unsigned long>(value));
    } else {
        mpz_import(target.get_mpz_t(), 1, 1, sizeof(value), 0, 0, &value);
    }
}

// |value| when it has at most 64 bits.
uint64_t smallMagnitude(const mpz_class& value) {
    if constexpr (sizeof(unsigned long) >= sizeof(uint64_t)) {
        return mpz_get_ui(value.get_mpz_t());
    } else {
        uint64_t result = 0;
        mpz_export(&result, nullptr, -1, sizeof(result), 0, 0, value.get_mpz_t());
        return result;
    }
}

// Whether a truncated quotient moves one unit away from zero. `sign` is the sign of the exact
// quotient, `half` the sign of (2 * |remainder| - |divisor|) for a non-zero remainder.
bool roundsAway(RoundingMode mode, int sign, int half, bool truncatedIsOdd) {
    switch (mode) {
    case RoundingMode::UP:
        return true;
    case RoundingMode::DOWN:
        return false;
    case RoundingMode::CEILING:
        return sign > 0;
    case RoundingMode::FLOOR:
        return sign < 0;
    case RoundingMode::HALF_UP:
        return half >= 0;
    case RoundingMode::HALF_DOWN:
        return half > 0;
    case RoundingMode::HALF_EVEN:
        return half > 0 || (half == 0 && truncatedIsOdd);
    }
    return false;
}

// q = numerator / divisor rounded once to an integer by `mode`; divisor is not zero.
void divideRounded(mpz_class& q, const mpz_class& numerator, const mpz_class& divisor, RoundingMode mode) {
    const int sign = sgn(numerator) * sgn(divisor);
    int half = 0;
    if (mpz_cmpabs_ui(divisor.get_mpz_t(), ULONG_MAX) <= 0) {
        // Single-limb divisors (every power of ten a record needs) avoid a remainder object.
        const unsigned long d = mpz_get_ui(divisor.get_mpz_t());
        const unsigned long r = mpz_tdiv_q_ui(q.get_mpz_t(), numerator.get_mpz_t(), d);
        if (sgn(divisor) < 0) {
            mpz_neg(q.get_mpz_t(), q.get_mpz_t());
        }
        if (r == 0) {
            return;
        }
        const unsigned long rest = d - r;
        half = r > rest ? 1 : (r == rest ? 0 : -1);
    } else {
        mpz_class r;
        mpz_tdiv_qr(q.get_mpz_t(), r.get_mpz_t(), numerator.get_mpz_t(), divisor.get_mpz_t());
        if (sgn(r) == 0) {
            return;
        }
        mpz_mul_2exp(r.get_mpz_t(), r.get_mpz_t(), 1);
        const int c = mpz_cmpabs(r.get_mpz_t(), divisor.get_mpz_t());
        half = c > 0 ? 1 : (c == 0 ? 0 : -1);
    }
    if (roundsAway(mode, sign, half, mpz_odd_p(q.get_mpz_t()) != 0)) {
        if (sign > 0) {
            mpz_add_ui(q.get_mpz_t(), q.get_mpz_t(), 1);
        } else {
            mpz_sub_ui(q.get_mpz_t(), q.get_mpz_t(), 1);
        }
    }
}

// The rounded quotient of a non-zero value whose magnitude is below a tenth of one unit of the
// result: only the directed modes move it off zero.
mpz_class roundTiny(int sign, RoundingMode mode) {
    return mpz_class(roundsAway(mode, sign, -1, false) ? sign : 0);
}

// unscaled of `value` expressed at `scale` (not below value's own scale).
void alignTo(mpz_class& out, const Decimal& value, int32_t scale) {
    const uint64_t shift = uint64_t(int64_t(scale) - value.scale());
    if (shift == 0 || value.signum() == 0) {
        out = value.unscaledValue();
        return;
    }
    mpz_class scratch;
    mpz_mul(out.get_mpz_t(), value.unscaledValue().get_mpz_t(), powerOfTen(shift, scratch).get_mpz_t());
}

enum class ScanStatus { Valid, Malformed, OutOfRange };

// Where the parts of a valid text are; the digits are read only once the text is known to be valid.
struct Scan {
    bool negative = false;
    qsizetype firstSignificant = 0; // index of the first non-zero digit, if significant > 0
    qsizetype digitsEnd = 0;        // end of the integer and fraction digits
    int64_t significant = 0;        // digits from the first non-zero one on
    int64_t scale = 0;
};

ScanStatus scan(QStringView text, Scan& out) {
    const char16_t* p = text.utf16();
    const qsizetype n = text.size();
    qsizetype i = 0;
    if (i < n && (p[i] == u'+' || p[i] == u'-')) {
        out.negative = p[i] == u'-';
        ++i;
    }
    const qsizetype intBegin = i;
    while (i < n && isDigit(p[i])) {
        ++i;
    }
    const qsizetype intEnd = i;
    qsizetype fracBegin = i;
    qsizetype fracEnd = i;
    if (i < n && p[i] == u'.') {
        fracBegin = ++i;
        while (i < n && isDigit(p[i])) {
            ++i;
        }
        fracEnd = i;
    }
    if (intEnd == intBegin && fracEnd == fracBegin) {
        return ScanStatus::Malformed;
    }
    out.digitsEnd = fracEnd;
    int64_t exponent = 0;
    if (i < n && (p[i] == u'e' || p[i] == u'E')) {
        ++i;
        bool negativeExponent = false;
        if (i < n && (p[i] == u'+' || p[i] == u'-')) {
            negativeExponent = p[i] == u'-';
            ++i;
        }
        if (i == n || !isDigit(p[i])) {
            return ScanStatus::Malformed;
        }
        while (i < n && isDigit(p[i])) {
            if (exponent < kExponentCap) {
                exponent = exponent * 10 + (p[i] - u'0');
            }
            ++i;
        }
        if (negativeExponent) {
            exponent = -exponent;
        }
    }
    if (i != n) {
        return ScanStatus::Malformed;
    }

    out.scale = int64_t(fracEnd - fracBegin) - exponent;
    if (out.scale < INT32_MIN || out.scale > INT32_MAX) {
        return ScanStatus::OutOfRange;
    }
    qsizetype first = intBegin;
    while (first < intEnd && p[first] == u'0') {
        ++first;
    }
    if (first == intEnd) {
        first = fracBegin;
        while (first < fracEnd && p[first] == u'0') {
            ++first;
        }
    }
    out.firstSignificant = first;
    out.significant = first < intEnd ? int64_t(intEnd - first) + (fracEnd - fracBegin) : int64_t(fracEnd - first);
    if (plainDigits(out.significant, out.scale) > Decimal::kMaxPlainDigits) {
        return ScanStatus::OutOfRange;
    }
    return ScanStatus::Valid;
}

// The unscaled value of a text that scan() accepted.
mpz_class readUnscaled(QStringView text, const Scan& s) {
    mpz_class result;
    if (s.significant == 0) {
        return result;
    }
    const char16_t* p = text.utf16();
    if (s.significant <= 19) {
        // Up to 19 digits fit 64 bits: the usual instrument value never reaches mpz_set_str.
        uint64_t value = 0;
        for (qsizetype i = s.firstSignificant; i < s.digitsEnd; ++i) {
            if (p[i] != u'.') {
                value = value * 10 + uint64_t(p[i] - u'0');
            }
        }
        setMagnitude(result, value);
    } else {
        std::string digits;
        digits.reserve(std::size_t(s.significant));
        for (qsizetype i = s.firstSignificant; i < s.digitsEnd; ++i) {
            if (p[i] != u'.') {
                digits.push_back(char(p[i]));
            }
        }
        mpz_set_str(result.get_mpz_t(), digits.c_str(), 10);
    }
    if (s.negative) {
        mpz_neg(result.get_mpz_t(), result.get_mpz_t());
    }
    return result;
}

// The text for a message: long texts are cut so that a log line stays readable.
QString quoted(QStringView text) {
    constexpr qsizetype kShown = 60;
    if (text.size() <= kShown) {
        return QStringLiteral("\"%1\"").arg(text);
    }
    return QStringLiteral("\"%1...\" (%2 characters)").arg(text.left(kShown).toString(), QString::number(text.size()));
}

} // namespace

Decimal::Decimal() = default;

Decimal::Decimal(const mpz_class& unscaled, int32_t scale) : m_unscaled(unscaled), m_scale(scale) {
    if (!fitsPlainLimit(m_unscaled, m_scale)) {
        throwTooLarge();
    }
}

Decimal::Decimal(mpz_class&& unscaled, int32_t scale, Unchecked) noexcept
    : m_unscaled(std::move(unscaled)), m_scale(scale) {}

Decimal Decimal::checkedResult(mpz_class&& unscaled, int64_t scale) {
    if (scale < INT32_MIN || scale > INT32_MAX) {
        throwScaleOverflow();
    }
    if (!fitsPlainLimit(unscaled, scale)) {
        throwTooLarge();
    }
    return Decimal(std::move(unscaled), int32_t(scale), Unchecked{});
}

Decimal Decimal::fromLong(long long value) {
    mpz_class unscaled;
    const uint64_t magnitude = value < 0 ? uint64_t(0) - uint64_t(value) : uint64_t(value);
    setMagnitude(unscaled, magnitude);
    if (value < 0) {
        mpz_neg(unscaled.get_mpz_t(), unscaled.get_mpz_t());
    }
    return Decimal(std::move(unscaled), 0, Unchecked{});
}

Decimal Decimal::parse(QStringView text) {
    Scan s;
    switch (scan(text, s)) {
    case ScanStatus::Valid:
        break;
    case ScanStatus::Malformed:
        throw NumberFormatException(QStringLiteral("Not a decimal number: ") + quoted(text));
    case ScanStatus::OutOfRange:
        throw NumberFormatException(
            QStringLiteral("Decimal number out of range (more than %1 digits): ").arg(kMaxPlainDigits) + quoted(text));
    }
    return Decimal(readUnscaled(text, s), int32_t(s.scale), Unchecked{});
}

std::optional<Decimal> Decimal::tryParse(QStringView text) noexcept {
    try {
        Scan s;
        if (scan(text, s) != ScanStatus::Valid) {
            return std::nullopt;
        }
        return Decimal(readUnscaled(text, s), int32_t(s.scale), Unchecked{});
    } catch (...) {
        // Only an allocation failure can get here.
        return std::nullopt;
    }
}

bool Decimal::isValid(QStringView text) noexcept {
    Scan s;
    return scan(text, s) == ScanStatus::Valid;
}

Decimal Decimal::multiply(const Decimal& o) const {
    const int64_t scale = int64_t(m_scale) + o.m_scale;
    if (scale < INT32_MIN || scale > INT32_MAX) {
        throwScaleOverflow();
    }
    mpz_class product;
    mpz_mul(product.get_mpz_t(), m_unscaled.get_mpz_t(), o.m_unscaled.get_mpz_t());
    return checkedResult(std::move(product), scale);
}

Decimal Decimal::subtract(const Decimal& o) const {
    // Non-zero values have scales within the digit limit, so aligning never builds a huge power;
    // zero (whose scale may be far off) is never scaled.
    const int32_t scale = std::max(m_scale, o.m_scale);
    mpz_class difference;
    if (m_scale == o.m_scale) {
        mpz_sub(difference.get_mpz_t(), m_unscaled.get_mpz_t(), o.m_unscaled.get_mpz_t());
    } else if (m_scale < scale) {
        alignTo(difference, *this, scale);
        difference -= o.m_unscaled;
    } else {
        alignTo(difference, o, scale);
        mpz_sub(difference.get_mpz_t(), m_unscaled.get_mpz_t(), difference.get_mpz_t());
    }
    return checkedResult(std::move(difference), scale);
}

Decimal Decimal::abs() const {
    mpz_class magnitude;
    mpz_abs(magnitude.get_mpz_t(), m_unscaled.get_mpz_t());
    return Decimal(std::move(magnitude), m_scale, Unchecked{});
}

Decimal Decimal::negate() const {
    mpz_class negated;
    mpz_neg(negated.get_mpz_t(), m_unscaled.get_mpz_t());
    return Decimal(std::move(negated), m_scale, Unchecked{});
}

Decimal Decimal::divide(const Decimal& divisor, int32_t scale, RoundingMode mode) const {
    if (divisor.signum() == 0) {
        throw ArithmeticException(QStringLiteral("Division by zero"));
    }
    // Even a zero quotient has scale + 1 digits; refuse before building any power of ten.
    if (plainDigits(0, scale) > kMaxPlainDigits) {
        throwTooLarge();
    }
    if (signum() == 0) {
        return Decimal(mpz_class(), scale, Unchecked{});
    }
    // (a * 10^-sa) / (b * 10^-sb) * 10^scale = a * 10^e / b
    const int64_t e = int64_t(scale) + divisor.m_scale - m_scale;
    mpz_class q;
    mpz_class scratch;
    if (e >= 0) {
        // Bounded: scale is below the digit limit here, and so are the operands' scales.
        mpz_class numerator;
        mpz_mul(numerator.get_mpz_t(), m_unscaled.get_mpz_t(), powerOfTen(uint64_t(e), scratch).get_mpz_t());
        divideRounded(q, numerator, divisor.m_unscaled, mode);
    } else if (uint64_t(-e) > mpz_sizeinbase(m_unscaled.get_mpz_t(), 10)) {
        // |a / (b * 10^-e)| <= |a| / 10^-e < 1/10: no need to build 10^-e (a very negative scale).
        q = roundTiny(signum() * divisor.signum(), mode);
    } else {
        mpz_class denominator;
        mpz_mul(denominator.get_mpz_t(), divisor.m_unscaled.get_mpz_t(), powerOfTen(uint64_t(-e), scratch).get_mpz_t());
        divideRounded(q, m_unscaled, denominator, mode);
    }
    return checkedResult(std::move(q), scale);
}

Decimal Decimal::setScale(int32_t newScale, RoundingMode mode) const {
    if (newScale == m_scale) {
        return *this;
    }
    if (signum() == 0) {
        return checkedResult(mpz_class(), newScale);
    }
    mpz_class scratch;
    if (newScale > m_scale) {
        if (plainDigits(1, newScale) > kMaxPlainDigits) {
            throwTooLarge();
        }
        mpz_class widened;
        mpz_mul(widened.get_mpz_t(), m_unscaled.get_mpz_t(),
                powerOfTen(uint64_t(int64_t(newScale) - m_scale), scratch).get_mpz_t());
        return checkedResult(std::move(widened), newScale);
    }
    const uint64_t drop = uint64_t(int64_t(m_scale) - newScale);
    mpz_class q;
    if (drop > mpz_sizeinbase(m_unscaled.get_mpz_t(), 10)) {
        q = roundTiny(signum(), mode);
    } else {
        divideRounded(q, m_unscaled, powerOfTen(drop, scratch), mode);
    }
    return checkedResult(std::move(q), newScale);
}

int Decimal::compareTo(const Decimal& o) const {
    const int a = signum();
    const int b = o.signum();
    if (a != b) {
        return a < b ? -1 : 1;
    }
    if (a == 0) {
        return 0;
    }
    int c;
    if (m_scale == o.m_scale) {
        c = mpz_cmp(m_unscaled.get_mpz_t(), o.m_unscaled.get_mpz_t());
    } else {
        const int32_t scale = std::max(m_scale, o.m_scale);
        mpz_class aligned;
        if (m_scale < scale) {
            alignTo(aligned, *this, scale);
            c = mpz_cmp(aligned.get_mpz_t(), o.m_unscaled.get_mpz_t());
        } else {
            alignTo(aligned, o, scale);
            c = mpz_cmp(m_unscaled.get_mpz_t(), aligned.get_mpz_t());
        }
    }
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

std::size_t Decimal::hash() const {
    if (signum() == 0) {
        return 0;
    }
    // Hash the value without trailing zeros so that equal values at different scales agree.
    static const mpz_class ten(10);
    mpz_class stripped;
    const auto removed = mpz_remove(stripped.get_mpz_t(), m_unscaled.get_mpz_t(), ten.get_mpz_t());
    std::size_t h = std::hash<int64_t>{}(int64_t(m_scale) - int64_t(removed));
    const std::size_t limbs = mpz_size(stripped.get_mpz_t());
    for (std::size_t i = 0; i < limbs; ++i) {
        const auto limb = std::size_t(mpz_getlimbn(stripped.get_mpz_t(), mp_size_t(i)));
        h ^= limb + std::size_t(0x9e3779b97f4a7c15ULL) + (h << 6) + (h >> 2);
    }
    return signum() < 0 ? ~h : h;
}

QString Decimal::toPlainString() const {
    QString text;
    writePlainString(text);
    return text;
}

void Decimal::writePlainString(QString& out) const {
    if (signum() == 0) {
        const qsizetype length = m_scale > 0 ? qsizetype(m_scale) + 2 : 1;
        out.resize(length);
        QChar* p = out.data();
        std::fill(p, p + length, QLatin1Char('0'));
        if (m_scale > 0) {
            p[1] = QLatin1Char('.');
        }
        return;
    }

    char small[24];
    std::string large;
    const char* digits;
    qsizetype count;
    if (mpz_sizeinbase(m_unscaled.get_mpz_t(), 2) <= 64) {
        uint64_t v = smallMagnitude(m_unscaled);
        char* end = small + sizeof(small);
        char* d = end;
        do {
            *--d = char('0' + v % 10);
            v /= 10;
        } while (v != 0);
        digits = d;
        count = end - d;
    } else {
        large.resize(mpz_sizeinbase(m_unscaled.get_mpz_t(), 10) + 2);
        mpz_get_str(large.data(), 10, m_unscaled.get_mpz_t());
        digits = large.data() + (large[0] == '-' ? 1 : 0);
        count = qsizetype(std::strlen(digits));
    }

    const bool negative = signum() < 0;
    const qsizetype scale = m_scale;
    qsizetype length;
    if (scale <= 0) {
        length = count - scale;
    } else if (scale < count) {
        length = count + 1;
    } else {
        length = scale + 2;
    }
    out.resize(length + (negative ? 1 : 0));
    QChar* p = out.data();
    if (negative) {
        *p++ = QLatin1Char('-');
    }
    auto copyDigits = [&p](const char* from, qsizetype n) {
        for (qsizetype i = 0; i < n; ++i) {
            *p++ = QLatin1Char(from[i]);
        }
    };
    auto zeros = [&p](qsizetype n) {
        for (qsizetype i = 0; i < n; ++i) {
            *p++ = QLatin1Char('0');
        }
    };
    if (scale <= 0) {
        copyDigits(digits, count);
        zeros(-scale);
    } else if (scale < count) {
        copyDigits(digits, count - scale);
        *p++ = QLatin1Char('.');
        copyDigits(digits + (count - scale), scale);
    } else {
        *p++ = QLatin1Char('0');
        *p++ = QLatin1Char('.');
        zeros(scale - count);
        copyDigits(digits, count);
    }
}

} // namespace tavlo::base
