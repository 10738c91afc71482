// "tavlo --list-ports" as a user runs it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QProcess>

namespace {

struct ProgramRun {
    int exitCode;
    QByteArray out;
    QByteArray err;
};

ProgramRun runTavlo(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral(TAVLO_BIN_DIR "/tavlo"), arguments);
    EXPECT_TRUE(process.waitForFinished(60000));
    return ProgramRun{process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

TEST(ListPorts, PrintsThePropertyListInItsOrder) {
    const ProgramRun run = runTavlo({QStringLiteral("-DSERIAL_PORT_LIST=COM7;COM3;"), QStringLiteral("--list-ports")});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, QByteArray("COM7\nCOM3\n"));
}

TEST(ListPorts, MissingNativeLibraryEndsWithStatusTwo) {
    const ProgramRun run = runTavlo(
        {QStringLiteral("-DTSP_LIBRARY_PATH=" TAVLO_BIN_DIR "/libtspGone.so"), QStringLiteral("--list-ports")});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.out, QByteArray());
    EXPECT_THAT(run.err.toStdString(), testing::HasSubstr("libtspGone.so"));
}

} // namespace
