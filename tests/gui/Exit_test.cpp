// The exit statuses of the program's window, each from a run in a child process: 0 after closing (with the
// settings saved), 2 without the native serial library, 4 with a damaged text table and after an accepted settings
// import.
#include <QCoreApplication>
#include <QProcess>
#include <gtest/gtest.h>

namespace {

struct ExitCase {
    const char* name;
    int status;
    const char* expectedOutput;
};

void PrintTo(const ExitCase& c, std::ostream* os) {
    *os << c.name;
}

class ExitStatusTest : public ::testing::TestWithParam<ExitCase> {};

TEST_P(ExitStatusTest, ChildRun) {
    const ExitCase& c = GetParam();
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child"), QString::fromLatin1(c.name)});
    ASSERT_TRUE(child.waitForFinished(60000));
    const QString output = QString::fromUtf8(child.readAllStandardOutput());
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(child.exitCode(), c.status) << output.toStdString() << child.readAllStandardError().toStdString();
    for (const QString& part : QString::fromLatin1(c.expectedOutput).split(u'|'))
        EXPECT_TRUE(output.contains(part)) << part.toStdString() << " not in\n" << output.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Window, ExitStatusTest,
                         ::testing::Values(ExitCase{"close", 0, "delay=55|open=0"},
                                           ExitCase{"closeRunning", 0, "open=0"}, ExitCase{"library", 2, "box="},
                                           ExitCase{"damaged", 4, "box=Fatal error|delay=<none>"},
                                           ExitCase{"import", 4, "delay=77"}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
