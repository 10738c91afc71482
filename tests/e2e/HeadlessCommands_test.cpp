// Instrument commands and control characters end to end: tavlo --headless --output print against tavlo-sim,
// which answers each profile's commands as its instrument does, and barcode records with group separators.
#include "HeadlessRun.h"

#include "../fakes/QtTestApp.h"

#include "config/Config.h"
#include "config/Instrument.h"

#include <QTcpSocket>
#include <QUrl>
#include <gtest/gtest.h>

using tavlo::config::InstrumentCommand;
using tavlo::test::readUntil;
using tavlo::test::runHeadless;
using tavlo::test::stopProcess;
using Instrument = tavlo::config::ConfigHelper::Instrument;
using Settings = QList<QPair<QString, QString>>;

namespace {

Settings profile(const Instrument& instrument, Settings more = {}) {
    Settings s{{"instrument", QString::fromLatin1(instrument.nameLatin1())},
               {"inputTerminator", QString::number(instrument.getDefaultConfig().getInputTerminator())},
               {"delay", "0"}};
    return s + more;
}

QList<double> printedValues(const QString& out) {
    QList<double> values;
    for (const QString& line : out.split('\n', Qt::SkipEmptyParts))
        values.append(line.toDouble());
    return values;
}

struct PollCase {
    const Instrument* instrument;
};

void PrintTo(const PollCase& c, std::ostream* os) {
    *os << c.instrument->nameLatin1();
}

class HeadlessPoll : public ::testing::TestWithParam<PollCase> {};

// The simulator answers only the exact bytes of the profile's request: each value printed is the answer to one.
TEST_P(HeadlessPoll, SendsTheTablesRequestAndTypesTheAnswers) {
    const Instrument& instrument = *GetParam().instrument;
    const auto r =
        runHeadless(profile(instrument), {"--instrument", instrument.name(), "--values", "1.5,-2.25", "--commands"}, 2,
                    {"--poll", "100"});
    ASSERT_TRUE(r.finished) << r.err.toStdString();
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(printedValues(r.out), QList<double>({1.5, -2.25})) << r.out.toStdString() << r.err.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Profiles, HeadlessPoll,
                         ::testing::Values(PollCase{&Instrument::METTLER_DIALOG}, PollCase{&Instrument::AND_SIMPLE},
                                           PollCase{&Instrument::KERN_572}, PollCase{&Instrument::OHAUS},
                                           PollCase{&Instrument::OHAUSSPU}, PollCase{&Instrument::SARTORIUS},
                                           PollCase{&Instrument::ADAM_CPWPLUS}, PollCase{&Instrument::MITUTOYO}));

struct TareCase {
    const Instrument* instrument;
    InstrumentCommand command;
    const char* answer; // what the acknowledgement line shows of the instrument's answer; null: none documented
};

void PrintTo(const TareCase& c, std::ostream* os) {
    *os << c.instrument->nameLatin1() << " " << tavlo::config::commandName(c.command).toStdString();
}

class HeadlessTare : public ::testing::TestWithParam<TareCase> {};

// A network balance that tavlo polls while a second client (the test) tares or zeroes it: later values are net,
// and the balance's answer is logged as an acknowledgement, never typed.
TEST_P(HeadlessTare, LaterValuesAreNetAndTheAnswerIsNeverTyped) {
    const TareCase& c = GetParam();
    QProcess sim;
    sim.start(TAVLO_BIN_DIR "/tavlo-sim", {"--tcp", "0", "--instrument", c.instrument->name(), "--values", "100",
                                           "--commands", "--linger", "30000"});
    QByteArray simOut;
    ASSERT_TRUE(readUntil(sim, simOut, "\n", false, 10000));
    const QString address = QString::fromLatin1(simOut.left(simOut.indexOf('\n')));

    QTemporaryDir home;
    const QString settings = tavlo::test::writeSettingsFile(home, profile(*c.instrument));
    QProcess tavlo;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home.path());
    tavlo.setProcessEnvironment(env);
    tavlo.start(TAVLO_BIN_DIR "/tavlo",
                {"--headless", "--settings", settings, "--output", "print", "--poll", "150", address});
    QByteArray out, err;
    ASSERT_TRUE(readUntil(tavlo, out, "\n", false, 10000)) << tavlo.readAllStandardError().toStdString();

    QTcpSocket bench;
    bench.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(QUrl(address).port()));
    ASSERT_TRUE(bench.waitForConnected(5000));
    bench.write(c.instrument->getCommand(c.command));
    ASSERT_TRUE(bench.waitForBytesWritten(5000));
    // Polling goes on: wait for a value of zero.
    QDeadlineTimer deadline(15000);
    while (!printedValues(QString::fromLatin1(out)).contains(0.0) && !deadline.hasExpired()) {
        tavlo.waitForReadyRead(50);
        out += tavlo.readAllStandardOutput();
        err += tavlo.readAllStandardError();
    }
    if (c.answer)
        readUntil(tavlo, err, "(acknowledgement)", true, 10000);
    stopProcess(tavlo);
    stopProcess(sim);
    out += tavlo.readAllStandardOutput();
    err += tavlo.readAllStandardError();
    const QString log = QString::fromUtf8(err);

    const QList<double> values = printedValues(QString::fromLatin1(out));
    ASSERT_TRUE(values.contains(0.0)) << out.toStdString() << log.toStdString();
    const qsizetype firstZero = values.indexOf(0.0);
    for (qsizetype i = 0; i < values.size(); ++i)
        EXPECT_EQ(values[i], i < firstZero ? 100.0 : 0.0) << out.toStdString();

    int answers = 0;
    for (const QString& line : log.split('\n')) {
        if (!line.contains("(acknowledgement)"))
            continue;
        ++answers;
        EXPECT_TRUE(line.contains("[ignored]")) << line.toStdString();
        if (c.answer) {
            EXPECT_TRUE(line.contains(c.answer)) << line.toStdString();
        }
    }
    EXPECT_EQ(answers, c.answer ? 1 : 0) << log.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Profiles, HeadlessTare,
                         ::testing::Values(TareCase{&Instrument::METTLER_DIALOG, InstrumentCommand::Tare,
                                                    "T S    100.000 g"},
                                           TareCase{&Instrument::METTLER_PRINT, InstrumentCommand::Zero, "Z A"},
                                           TareCase{&Instrument::AND, InstrumentCommand::Tare, "<6><13><10>"},
                                           TareCase{&Instrument::AND, InstrumentCommand::Zero, "<6><13><10>"},
                                           TareCase{&Instrument::KERN_FKB, InstrumentCommand::Tare, nullptr},
                                           TareCase{&Instrument::OHAUS, InstrumentCommand::Tare, "OK!"},
                                           TareCase{&Instrument::OHAUSSPU, InstrumentCommand::Tare, nullptr},
                                           TareCase{&Instrument::SARTORIUS, InstrumentCommand::Zero, nullptr},
                                           TareCase{&Instrument::ADAM_CPWPLUS, InstrumentCommand::Tare, nullptr}));

// tavlo-sim --request with a profile and loads answers the profile's tare and zero as well, the request being
// the text given: a bench without hardware tries a balance's commands with the options it knows.
TEST(SimRequest, AnswersTheProfilesTareAndZeroBesideTheRequestGiven) {
    QProcess sim;
    sim.start(TAVLO_BIN_DIR "/tavlo-sim", {"--tcp", "0", "--instrument", "METTLER_DIALOG", "--values", "100,150",
                                           "--request", "SI\\r\\n", "--linger", "30000"});
    QByteArray simOut;
    ASSERT_TRUE(readUntil(sim, simOut, "\n", false, 10000));
    QTcpSocket bench;
    bench.connectToHost(QHostAddress::LocalHost,
                        static_cast<quint16>(QUrl(QString::fromLatin1(simOut.left(simOut.indexOf('\n')))).port()));
    ASSERT_TRUE(bench.waitForConnected(5000));
    QByteArray got;
    const auto ask = [&](const QByteArray& bytes, const QByteArray& until) {
        bench.write(bytes);
        QDeadlineTimer deadline(10000);
        while (!got.contains(until) && !deadline.hasExpired())
            if (bench.waitForReadyRead(50))
                got += bench.readAll();
        return got.contains(until);
    };
    ASSERT_TRUE(ask("SI\r\n", "100.000 g")) << got.toStdString();
    ASSERT_TRUE(ask("T\r\n", "T S")) << got.toStdString();
    got.clear();
    // Net of the tare: the next load (150) weighs 50 more than the tare.
    ASSERT_TRUE(ask("SI\r\n", " g\r\n")) << got.toStdString();
    EXPECT_TRUE(got.contains("50.000 g")) << got.toStdString();
    stopProcess(sim);
}

struct Gs1Case {
    const char* name;
    const char* instrument;
    const char* replacement; // null: the setting is not stored
    const char* format;
    const char* expected;
    int cutReports;
};

void PrintTo(const Gs1Case& c, std::ostream* os) {
    *os << c.name;
}

class HeadlessGs1 : public ::testing::TestWithParam<Gs1Case> {};

TEST_P(HeadlessGs1, TypesTheFieldsTheSettingJoins) {
    const Gs1Case& c = GetParam();
    Settings settings{{"instrument", c.instrument}, {"inputTerminator", "13"}, {"delay", "0"}};
    if (c.replacement)
        settings.append({QStringLiteral("replaceControlCharacters"), QString::fromLatin1(c.replacement)});
    const auto r = runHeadless(settings, {"--values", "ABC123,XYZ", "--format", c.format, "--interval", "5"}, 2);
    ASSERT_TRUE(r.finished) << r.err.toStdString();
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.toStdString(), c.expected) << r.err.toStdString();
    EXPECT_EQ(r.err.count("was not typed"), c.cutReports) << r.err.toStdString();
    // The event log shows the record as received, the separator included.
    EXPECT_TRUE(r.err.contains("0104012345678901<29>10ABC123")) << r.err.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Records, HeadlessGs1,
    ::testing::Values(Gs1Case{"with_bar", "BARCODE_ALPHA_COMPLETE", "|", "0104012345678901\\x1d10%s\\r",
                              "0104012345678901|10ABC123\n0104012345678901|10XYZ\n", 0},
                      // CR LF under terminator 13: each record after the first starts with the LF.
                      Gs1Case{"crlf_framing", "BARCODE_ALPHA_COMPLETE", "|", "0104012345678901\\x1d10%s\\r\\n",
                              "0104012345678901|10ABC123\n0104012345678901|10XYZ\n", 0},
                      Gs1Case{"off", "BARCODE_ALPHA_COMPLETE", nullptr, "0104012345678901\\x1d10%s\\r\\n",
                              "0104012345678901\n0104012345678901\n", 1}));

TEST(HeadlessGs1, AReplacementTheInstrumentCannotTypeIsRefused) {
    const auto r =
        runHeadless({{"instrument", "BARCODE_ALPHA"}, {"inputTerminator", "13"}, {"replaceControlCharacters", "|"}},
                    {"--values", "A", "--format", "%s\\r"}, 1);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("cannot be typed")) << r.err.toStdString();
    EXPECT_TRUE(r.out.isEmpty());
}

} // namespace
