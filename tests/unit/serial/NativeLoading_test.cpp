// Finding and loading the native library: the search order over the system's loader, and the fallback to the
// user's folder that older Windows versions need.
#include "SimFixture.h"

#include "serial/loader/NativeLoading.h"
#include "serial/loader/SharedLibrary.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gmock/gmock.h>

using serial::SerialPortLocal;
using tavlo::base::SystemProperties;
using testing::HasSubstr;
using testing::Not;
namespace loader = serial::loader;

namespace {

const QString kSim = QStringLiteral(TAVLO_BIN_DIR "/libtspSim.so");

TEST(NativeLoading, ByNameSearchesTheGivenFoldersAfterTheSystemPath) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(QFile::copy(kSim, dir.filePath(QStringLiteral("libtspCopy.so"))));

    EXPECT_THROW(loader::loadByName("tspCopy"), loader::LoadFailure);
    const loader::LoadedLibrary loaded = loader::loadByName("tspCopy", {"", "/nonexistent", dir.path().toStdString()});
    ASSERT_NE(loaded.handle, nullptr);
    EXPECT_EQ(loaded.origin, dir.filePath(QStringLiteral("libtspCopy.so")).toStdString());
    EXPECT_NE(loader::findEntryPoint(loaded.handle, "SerOpenPort"), nullptr);
    EXPECT_EQ(loader::findEntryPoint(loaded.handle, "SerNoSuchEntry"), nullptr);
}

TEST(NativeLoading, FailureNamesTheLibraryAndTheSystemsReason) {
    try {
        loader::loadByName("tspNowhere", {"/nonexistent"});
        FAIL() << "a missing library loaded";
    } catch (const loader::LoadFailure& failure) {
        EXPECT_THAT(failure.what(), HasSubstr("Native library tspNowhere not loaded: "));
        // The system's reason for the name itself, not for the last folder tried.
        EXPECT_THAT(failure.what(), HasSubstr("libtspNowhere.so"));
        EXPECT_THAT(failure.what(), Not(HasSubstr("/nonexistent")));
    }
}

TEST(NativeLoading, UserFolderFileIsTheHomeFolderAndTheWindowsFileName) {
    EXPECT_EQ(loader::userFolderFile("tspWin", "C:\\Users\\ann"), "C:\\Users\\ann\\tspWin.dll");
}

// The layer's set-up on "Windows 7" when the library is not found by name: the file in the user's home folder,
// then the library by name.
class UserFolderFallback : public SimFixture {
protected:
    void SetUp() override {
        SimFixture::SetUp();
        ASSERT_TRUE(m_dir.isValid());
        m_home = m_dir.filePath(QStringLiteral("home"));
        m_previousHome = SystemProperties::get(QStringLiteral("user.home"), QString());
        SystemProperties::set(QStringLiteral("user.home"), m_home);
    }
    void TearDown() override {
        SystemProperties::set(QStringLiteral("user.home"), m_previousHome);
        SimFixture::TearDown();
    }

    // Set-up of the layer with the library missing where it is looked for first; its console lines.
    std::string setUpOn(const char* os) {
        SystemProperties::set(QStringLiteral("TSP_OSNAME"), QString::fromUtf8(os));
        SystemProperties::set(QStringLiteral("TSP_LIBRARY_PATH"), QStringLiteral(TAVLO_BIN_DIR "/libtspMissing.so"));
        SerialPortLocal::resetForTesting();
        testing::internal::CaptureStderr();
        (void)SerialPortLocal::isLibraryLoaded();
        return testing::internal::GetCapturedStderr();
    }

    // The file the fallback loads; on this system the backslash is part of a file name in the home's parent.
    QString userFile() const { return m_home + QStringLiteral("\\tspWin.dll"); }

    QTemporaryDir m_dir;
    QString m_home;
    QString m_previousHome;
};

TEST_F(UserFolderFallback, LoadsTheLibraryFromTheUsersFolderOnWindows7) {
    ASSERT_TRUE(QFile::copy(kSim, userFile()));
    const std::string console = setUpOn("Windows 7");
    EXPECT_TRUE(SerialPortLocal::isLibraryLoaded());
    EXPECT_THAT(console, HasSubstr("libtspMissing.so"));
    EXPECT_THAT(console, HasSubstr(": Native library load failed tspWin trying user's folder"));
    EXPECT_THAT(console, HasSubstr("SerialPort class loaded users: tspWin"));
    EXPECT_THAT(console, Not(HasSubstr("proper directory")));
    EXPECT_EQ(SerialPortLocal::getLibraryFailure(), "");
}

TEST_F(UserFolderFallback, ReportsTheUsersFileWhenItIsMissingToo) {
    const std::string console = setUpOn("Windows 7");
    EXPECT_FALSE(SerialPortLocal::isLibraryLoaded());
    EXPECT_THAT(console, HasSubstr("trying user's folder"));
    EXPECT_THAT(console, HasSubstr("\\tspWin.dll"));
    EXPECT_THAT(console, HasSubstr(": Check that native library tspWin is in proper directory"));
    EXPECT_THAT(SerialPortLocal::getLibraryFailure().toStdString(), HasSubstr("\\tspWin.dll"));
}

TEST_F(UserFolderFallback, OtherWindowsVersionsDoNotLookThere) {
    ASSERT_TRUE(QFile::copy(kSim, userFile()));
    const std::string console = setUpOn("Windows 10");
    EXPECT_FALSE(SerialPortLocal::isLibraryLoaded());
    EXPECT_THAT(console, Not(HasSubstr("user's folder")));
    EXPECT_THAT(console, HasSubstr("libtspMissing.so"));
    EXPECT_THAT(console, HasSubstr(": Check that native library tspWin is in proper directory"));
}

} // namespace
