#include "base/Decimal.h"
#include "base/Exceptions.h"

#include <QFile>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <climits>
#include <gtest/gtest.h>
#include <unordered_set>
#include <vector>

using tavlo::base::ArithmeticException;
using tavlo::base::Decimal;
using tavlo::base::NumberFormatException;
using tavlo::base::RoundingMode;

namespace {

// One line of tests/data/decimal_vectors.txt (written by tools/gen_decimal_vectors.py).
struct Vector {
    int line = 0;
    QString raw;
    QStringList fields;
};

QString unescape(QStringView field) {
    QString out;
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] != u'\\' || i + 1 == field.size()) {
            out += field[i];
            continue;
        }
        const QChar next = field[++i];
        if (next == u'p') {
            out += u'|';
        } else if (next == u'u' && i + 4 < field.size()) {
            out += QChar(char16_t(field.mid(i + 1, 4).toUShort(nullptr, 16)));
            i += 4;
        } else {
            out += next;
        }
    }
    return out;
}

const std::vector<Vector>& vectors() {
    static const std::vector<Vector> all = [] {
        std::vector<Vector> result;
        QFile file(QStringLiteral(TAVLO_TEST_DATA_DIR "/decimal_vectors.txt"));
        if (!file.open(QIODevice::ReadOnly)) {
            return result;
        }
        const QList<QByteArray> lines = file.readAll().split('\n');
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const QString raw = QString::fromLatin1(lines[i]);
            if (raw.isEmpty() || raw.startsWith(u'#')) {
                continue;
            }
            Vector v;
            v.line = int(i + 1);
            v.raw = raw;
            for (const QString& field : raw.split(u'|')) {
                v.fields << unescape(field);
            }
            result.push_back(std::move(v));
        }
        return result;
    }();
    return all;
}

RoundingMode modeNamed(const QString& name) {
    static const QHash<QString, RoundingMode> modes = {
        {QStringLiteral("UP"), RoundingMode::UP},
        {QStringLiteral("DOWN"), RoundingMode::DOWN},
        {QStringLiteral("CEILING"), RoundingMode::CEILING},
        {QStringLiteral("FLOOR"), RoundingMode::FLOOR},
        {QStringLiteral("HALF_UP"), RoundingMode::HALF_UP},
        {QStringLiteral("HALF_DOWN"), RoundingMode::HALF_DOWN},
        {QStringLiteral("HALF_EVEN"), RoundingMode::HALF_EVEN},
    };
    if (!modes.contains(name)) {
        throw std::invalid_argument("unknown rounding mode " + name.toStdString());
    }
    return modes.value(name);
}

std::string shown(const Vector& v) {
    const QString text = v.raw.size() > 200 ? v.raw.left(200) + QStringLiteral("...") : v.raw;
    return "line " + std::to_string(v.line) + ": " + text.toStdString();
}

std::string describe(const Decimal& d) {
    return d.unscaledValue().get_str() + "|" + std::to_string(d.scale());
}

// Expected value written as the unscaled integer and the scale at fields[at], fields[at + 1].
void expectValue(const Decimal& actual, const Vector& v, qsizetype at) {
    const mpz_class unscaled(v.fields[at].toStdString(), 10);
    const int32_t scale = v.fields[at + 1].toInt();
    if (actual.unscaledValue() != unscaled || actual.scale() != scale) {
        ADD_FAILURE() << shown(v) << "\n  got " << describe(actual);
    }
}

void checkParse(const Vector& v, QString& buffer) {
    const QString& text = v.fields[1];
    if (v.fields[2] == QLatin1String("invalid")) {
        EXPECT_THROW(Decimal::parse(text), tavlo::base::NumberFormatException) << shown(v);
        EXPECT_FALSE(Decimal::isValid(text)) << shown(v);
        EXPECT_FALSE(Decimal::tryParse(text).has_value()) << shown(v);
        return;
    }
    const Decimal d = Decimal::parse(text);
    expectValue(d, v, 2);
    EXPECT_EQ(d.toPlainString(), v.fields[4]) << shown(v);
    // One buffer for every case: a longer earlier text must not leak into a shorter one.
    d.writePlainString(buffer);
    EXPECT_EQ(buffer, v.fields[4]) << shown(v);
    EXPECT_TRUE(Decimal::isValid(text)) << shown(v);
    const std::optional<Decimal> tried = Decimal::tryParse(text);
    ASSERT_TRUE(tried.has_value()) << shown(v);
    expectValue(*tried, v, 2);
}

void checkCase(const Vector& v, QString& buffer) {
    const QString& op = v.fields[0];
    if (op == QLatin1String("parse")) {
        checkParse(v, buffer);
    } else if (op == QLatin1String("plain")) {
        const Decimal d(mpz_class(v.fields[1].toStdString(), 10), v.fields[2].toInt());
        EXPECT_EQ(d.toPlainString(), v.fields[3]) << shown(v);
    } else if (op == QLatin1String("setscale")) {
        const Decimal a = Decimal::parse(v.fields[1]);
        expectValue(a.setScale(v.fields[2].toInt(), modeNamed(v.fields[3])), v, 4);
    } else if (op == QLatin1String("divide")) {
        const Decimal a = Decimal::parse(v.fields[1]);
        const Decimal b = Decimal::parse(v.fields[2]);
        expectValue(a.divide(b, v.fields[3].toInt(), modeNamed(v.fields[4])), v, 5);
    } else if (op == QLatin1String("multiply")) {
        const Decimal a = Decimal::parse(v.fields[1]);
        const Decimal b = Decimal::parse(v.fields[2]);
        expectValue(a.multiply(b), v, 3);
        expectValue(b.multiply(a), v, 3);
    } else if (op == QLatin1String("subtract")) {
        const Decimal a = Decimal::parse(v.fields[1]);
        const Decimal b = Decimal::parse(v.fields[2]);
        expectValue(a.subtract(b), v, 3);
        // b - a is the negation, at the same scale.
        const Decimal back = b.subtract(a).negate();
        expectValue(back, v, 3);
    } else if (op == QLatin1String("compare")) {
        const Decimal a = Decimal::parse(v.fields[1]);
        const Decimal b = Decimal::parse(v.fields[2]);
        const int expected = v.fields[3].toInt();
        EXPECT_EQ(a.compareTo(b), expected) << shown(v);
        EXPECT_EQ(b.compareTo(a), -expected) << shown(v);
        if (expected == 0) {
            EXPECT_EQ(a.hash(), b.hash()) << shown(v);
        }
    } else {
        ADD_FAILURE() << shown(v) << "\n  unknown operation";
    }
}

class DecimalVectors : public ::testing::TestWithParam<const char*> {};

TEST_P(DecimalVectors, MatchThePythonOracle) {
    const QString op = QLatin1String(GetParam());
    QString buffer;
    int checked = 0;
    for (const Vector& v : vectors()) {
        if (v.fields[0] != op) {
            continue;
        }
        ++checked;
        try {
            checkCase(v, buffer);
        } catch (const tavlo::base::TavloException& e) {
            ADD_FAILURE() << shown(v) << "\n  threw " << e.message().toStdString();
        } catch (const std::exception& e) {
            ADD_FAILURE() << shown(v) << "\n  threw " << e.what();
        }
    }
    EXPECT_GE(checked, 150) << "too few " << GetParam() << " cases in decimal_vectors.txt";
}

INSTANTIATE_TEST_SUITE_P(Operations, DecimalVectors,
                         ::testing::Values("parse", "plain", "setscale", "divide", "multiply", "subtract", "compare"),
                         [](const auto& info) { return std::string(info.param); });

Decimal dec(const char* text) {
    return Decimal::parse(QString::fromLatin1(text));
}

mpz_class powerOfTen(unsigned long exponent) {
    mpz_class p;
    mpz_ui_pow_ui(p.get_mpz_t(), 10, exponent);
    return p;
}

TEST(Decimal, HugeExponentIsRefusedWithoutWritingDigits) {
    for (const char* text : {"1E999999999", "-1e999999999", "1E2147483647", "1E-999999999", "1E2147483648",
                             "0E-999999999", "0.1E-2147483647"}) {
        EXPECT_THROW(dec(text), tavlo::base::NumberFormatException) << text;
    }
    // An exponent of a thousand digits saturates instead of overflowing into a small scale.
    const QString longExponent = QStringLiteral("1E") + QString(1000, u'9');
    EXPECT_THROW(Decimal::parse(longExponent), tavlo::base::NumberFormatException);
    EXPECT_THROW(Decimal::parse(QStringLiteral("1E-") + QString(1000, u'9')), tavlo::base::NumberFormatException);
    // Zero has no digits to write, whatever its exponent.
    const Decimal zero = dec("0E999999999");
    EXPECT_EQ(zero.scale(), -999999999);
    EXPECT_EQ(zero.toPlainString(), QStringLiteral("0"));
}

TEST(Decimal, DigitLimitCountsThePlainText) {
    EXPECT_EQ(dec("1E9999").toPlainString().size(), Decimal::kMaxPlainDigits);
    EXPECT_THROW(dec("1E10000"), tavlo::base::NumberFormatException);
    EXPECT_EQ(dec("-1E9999").toPlainString().size(), Decimal::kMaxPlainDigits + 1);
    // Leading zeros are not part of the value.
    const Decimal one = Decimal::parse(QString(50000, u'0') + QStringLiteral("1.5"));
    EXPECT_EQ(one.toPlainString(), QStringLiteral("1.5"));

    EXPECT_NO_THROW(Decimal(powerOfTen(9999), 0));
    EXPECT_THROW(Decimal(powerOfTen(10000), 0), tavlo::base::ArithmeticException);
    EXPECT_THROW(Decimal(mpz_class(1), INT32_MIN), tavlo::base::ArithmeticException);
    EXPECT_THROW(Decimal(mpz_class(0), Decimal::kMaxPlainDigits), tavlo::base::ArithmeticException);
    EXPECT_EQ(Decimal(mpz_class(0), INT32_MIN).toPlainString(), QStringLiteral("0"));
}

TEST(Decimal, ParseMessageNamesTheText) {
    try {
        dec("1,5");
        FAIL() << "1,5 was accepted";
    } catch (const tavlo::base::NumberFormatException& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("\"1,5\""))) << e.message().toStdString();
    }
    // A long text is cut in the message but still recognisable.
    const QString longText = QString(5000, u'7') + QStringLiteral("x");
    try {
        Decimal::parse(longText);
        FAIL() << "a text with a letter was accepted";
    } catch (const tavlo::base::NumberFormatException& e) {
        EXPECT_TRUE(e.message().contains(QString(60, u'7'))) << e.message().toStdString();
        EXPECT_LT(e.message().size(), 200);
    }
}

TEST(Decimal, DivisionByZeroIsAnArithmeticException) {
    for (const char* zero : {"0", "0.000", "-0", "0E5", "0E-7"}) {
        for (const char* dividend : {"1", "-12.5", "0"}) {
            try {
                dec(dividend).divide(dec(zero), 2, RoundingMode::HALF_UP);
                FAIL() << dividend << " / " << zero << " gave a result";
            } catch (const tavlo::base::ArithmeticException& e) {
                EXPECT_EQ(e.message(), QStringLiteral("Division by zero"));
            }
        }
    }
}

TEST(Decimal, AbsurdScaleRequestsAreRefusedOrCheap) {
    const Decimal five = dec("5");
    EXPECT_THROW(five.setScale(INT32_MAX, RoundingMode::DOWN), tavlo::base::ArithmeticException);
    EXPECT_THROW(five.setScale(int32_t(Decimal::kMaxPlainDigits), RoundingMode::DOWN),
                 tavlo::base::ArithmeticException);
    EXPECT_EQ(five.setScale(int32_t(Decimal::kMaxPlainDigits) - 1, RoundingMode::DOWN).toPlainString().size(),
              Decimal::kMaxPlainDigits + 1);
    EXPECT_THROW(five.divide(dec("3"), INT32_MAX, RoundingMode::DOWN), tavlo::base::ArithmeticException);
    EXPECT_THROW(dec("0").divide(dec("3"), INT32_MAX, RoundingMode::DOWN), tavlo::base::ArithmeticException);

    // Rounding to a very coarse scale gives zero (or one unit of it, which is too long to write).
    const Decimal coarse = five.setScale(INT32_MIN, RoundingMode::HALF_UP);
    EXPECT_EQ(coarse.signum(), 0);
    EXPECT_EQ(coarse.scale(), INT32_MIN);
    EXPECT_EQ(coarse.toPlainString(), QStringLiteral("0"));
    EXPECT_THROW(five.setScale(INT32_MIN, RoundingMode::UP), tavlo::base::ArithmeticException);
    EXPECT_EQ(five.divide(dec("3"), INT32_MIN, RoundingMode::FLOOR).signum(), 0);
    EXPECT_THROW(five.divide(dec("-3"), INT32_MIN, RoundingMode::FLOOR), tavlo::base::ArithmeticException);
}

TEST(Decimal, ArithmeticResultsKeepTheLimits) {
    const Decimal zeroFarOff = dec("0E2000000000");
    EXPECT_THROW(zeroFarOff.multiply(zeroFarOff), tavlo::base::ArithmeticException);
    EXPECT_EQ(zeroFarOff.multiply(dec("1.5")).scale(), -1999999999);
    EXPECT_THROW(dec("1E-5000").multiply(dec("1E-5001")), tavlo::base::ArithmeticException);
    EXPECT_THROW(dec("1E9999").subtract(dec("1E-9998")), tavlo::base::ArithmeticException);
    // A zero with a far-off scale never gets scaled.
    EXPECT_EQ(dec("7.25").subtract(zeroFarOff).toPlainString(), QStringLiteral("7.25"));
    EXPECT_EQ(zeroFarOff.subtract(dec("7.25")).toPlainString(), QStringLiteral("-7.25"));
    EXPECT_EQ(zeroFarOff.compareTo(dec("0.000")), 0);
}

TEST(Decimal, EqualValuesHashAlikeAtAnyScale) {
    const std::vector<std::vector<const char*>> groups = {
        {"2", "2.0", "2.00", "20E-1", "+2.000000", "0.2E1"},
        {"0", "0.000", "-0", "0E5", "-0.0E-3"},
        {"-1500", "-1.5E3", "-15E2", "-1500.00"},
        {"1E9999", "10E9998"},
    };
    QSet<Decimal> qset;
    std::unordered_set<Decimal> stdset;
    for (const auto& group : groups) {
        const Decimal first = dec(group.front());
        for (const char* text : group) {
            const Decimal d = dec(text);
            EXPECT_EQ(d.compareTo(first), 0) << text;
            EXPECT_TRUE(d == first) << text;
            EXPECT_EQ(d.hash(), first.hash()) << text;
            EXPECT_EQ(qHash(d, 17), qHash(first, 17)) << text;
            qset.insert(d);
            stdset.insert(d);
        }
    }
    EXPECT_EQ(qset.size(), qsizetype(groups.size()));
    EXPECT_EQ(stdset.size(), groups.size());
    EXPECT_NE(dec("2.0").hash(), dec("-2.0").hash());
    EXPECT_NE(dec("2.0").hash(), dec("0.2").hash());
}

TEST(Decimal, OrderAcrossDistantScales) {
    EXPECT_GT(dec("1E9999"), dec("1E-9999"));
    EXPECT_LT(dec("-1E9999"), dec("1E-9999"));
    EXPECT_LT(dec("-1E9999"), dec("-1E-9999"));
    EXPECT_LT(dec("0.0000000000000000000001"), dec("0.00000000000000000000011"));
    EXPECT_GT(dec("0"), dec("-1E-9999"));
    EXPECT_LT(dec("0E-50"), dec("1E-9999"));
}

TEST(Decimal, SmallConstructorsAndSignOperations) {
    EXPECT_EQ(Decimal().toPlainString(), QStringLiteral("0"));
    EXPECT_EQ(Decimal().scale(), 0);
    EXPECT_EQ(Decimal::fromLong(LLONG_MIN).toPlainString(), QStringLiteral("-9223372036854775808"));
    EXPECT_EQ(Decimal::fromLong(LLONG_MAX).toPlainString(), QStringLiteral("9223372036854775807"));
    EXPECT_EQ(Decimal::fromLong(-42).signum(), -1);

    const Decimal d = dec("-1.50");
    EXPECT_EQ(d.abs().toPlainString(), QStringLiteral("1.50"));
    EXPECT_EQ(d.negate().toPlainString(), QStringLiteral("1.50"));
    EXPECT_EQ(d.abs().abs().toPlainString(), QStringLiteral("1.50"));
    EXPECT_EQ(dec("0.000").negate().toPlainString(), QStringLiteral("0.000"));
    // A negative value that rounds to zero is written without a sign.
    EXPECT_EQ(dec("-0.004").setScale(2, RoundingMode::HALF_UP).toPlainString(), QStringLiteral("0.00"));
}

} // namespace
