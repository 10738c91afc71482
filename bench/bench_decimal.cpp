// The per-record number work: read the value, optionally multiply or divide, round, write.
#include "base/Decimal.h"

#include <QString>
#include <QStringList>
#include <benchmark/benchmark.h>

using tavlo::base::Decimal;
using tavlo::base::RoundingMode;

namespace {

const QStringList& samples() {
    static const QStringList values = {
        QStringLiteral("12.345"), QStringLiteral("-0.0049"),  QStringLiteral("1234.5"), QStringLiteral("+100.00"),
        QStringLiteral("0.125"),  QStringLiteral("87.65432"), QStringLiteral("-3.2"),   QStringLiteral("1E3"),
    };
    return values;
}

void BM_ParseSetScalePlain(benchmark::State& state) {
    const QStringList& values = samples();
    QString out;
    qsizetype i = 0;
    for (auto _ : state) {
        const Decimal d = Decimal::parse(values[i++ % values.size()]);
        const Decimal r = d.scale() > 2 ? d.setScale(2, RoundingMode::HALF_UP) : d;
        r.writePlainString(out);
        benchmark::DoNotOptimize(out.constData());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParseSetScalePlain);

void BM_ParseToPlainString(benchmark::State& state) {
    const QStringList& values = samples();
    qsizetype i = 0;
    for (auto _ : state) {
        QString out = Decimal::parse(values[i++ % values.size()]).setScale(2, RoundingMode::HALF_EVEN).toPlainString();
        benchmark::DoNotOptimize(out.constData());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParseToPlainString);

void BM_ParseMultiplyRoundPlain(benchmark::State& state) {
    const QStringList& values = samples();
    const Decimal factor = Decimal::parse(u"1000");
    QString out;
    qsizetype i = 0;
    for (auto _ : state) {
        Decimal d = Decimal::parse(values[i++ % values.size()]).multiply(factor);
        if (d.scale() > 3) {
            d = d.setScale(3, RoundingMode::HALF_UP);
        }
        d.writePlainString(out);
        benchmark::DoNotOptimize(out.constData());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParseMultiplyRoundPlain);

void BM_ParseDividePlain(benchmark::State& state) {
    const QStringList& values = samples();
    const Decimal divisor = Decimal::parse(u"3");
    QString out;
    qsizetype i = 0;
    for (auto _ : state) {
        Decimal::parse(values[i++ % values.size()]).divide(divisor, 4, RoundingMode::HALF_EVEN).writePlainString(out);
        benchmark::DoNotOptimize(out.constData());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParseDividePlain);

// The duplicate filter's step: |a - b| compared with a tolerance.
void BM_SubtractAbsCompare(benchmark::State& state) {
    const Decimal a = Decimal::parse(u"12.345");
    const Decimal b = Decimal::parse(u"12.3");
    const Decimal tolerance = Decimal::parse(u"0.05");
    for (auto _ : state) {
        benchmark::DoNotOptimize(a.subtract(b).abs().compareTo(tolerance));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SubtractAbsCompare);

// A long value, to see that the large path stays reasonable.
void BM_ParseLongValue(benchmark::State& state) {
    const QString text = QStringLiteral("-123456789012345678901234567890.123456789012345678901234567890");
    QString out;
    for (auto _ : state) {
        Decimal::parse(text).setScale(7, RoundingMode::HALF_UP).writePlainString(out);
        benchmark::DoNotOptimize(out.constData());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParseLongValue);

} // namespace

BENCHMARK_MAIN();
