#include "tavlo/prefs/PlatformPreferences.h"
#include "tavlo/prefs/PreferencesExceptions.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using tavlo::base::IllegalArgumentException;
using tavlo::prefs::AccessDeniedException;
using tavlo::prefs::PlatformPreferences;
using tavlo::prefs::Preferences;

namespace {

// The native store on Linux is an INI file; the tests use one in a temporary folder, never the user's own.
class PlatformPreferencesTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    std::unique_ptr<PlatformPreferences> openRoot(const QString& name = QStringLiteral("store.ini")) {
        return PlatformPreferences::createRoot(std::make_unique<QSettings>(m_dir.filePath(name), QSettings::IniFormat));
    }

    QTemporaryDir m_dir;
};

TEST_F(PlatformPreferencesTest, KeysNodesAndAwkwardTextSurviveAFlushAndAFreshStore) {
    const QList<std::pair<QString, QString>> entries = {
        {QStringLiteral("port"), QStringLiteral("COM3")},
        {QStringLiteral("slash/key"), QStringLiteral("a/b")},
        {QStringLiteral("back\\slash"), QStringLiteral("C:\\x")},
        {QStringLiteral("100%"), QStringLiteral("%2F")},
        {QString(), QStringLiteral("empty key")},
        {QStringLiteral("list"), QStringLiteral("a,b, c")},
        {QStringLiteral("marks"), QStringLiteral("@Variant(x) \"q\" ; # = [s]")},
        {QStringLiteral("lines"), QStringLiteral(" lead\ntrail \t")},
        {QStringLiteral("unicode \u00e9"), QStringLiteral("\u20ac\U0001F600")},
    };
    {
        auto root = openRoot();
        Preferences& node = root->node(QStringLiteral("/com/corvane/Tavlo"));
        for (const auto& [key, value] : entries)
            node.put(key, value);
        node.node(QStringLiteral("child")).putInt(QStringLiteral("n"), -7);
        root->flush();
    }
    auto root = openRoot();
    Preferences& node = root->node(QStringLiteral("/com/corvane/Tavlo"));
    for (const auto& [key, value] : entries)
        EXPECT_EQ(node.get(key, QStringLiteral("<absent>")), value) << key.toStdString();
    EXPECT_EQ(node.keys().size(), entries.size());
    EXPECT_TRUE(node.keys().contains(QStringLiteral("slash/key")));
    EXPECT_EQ(node.childrenNames(), QStringList{QStringLiteral("child")});
    EXPECT_EQ(node.node(QStringLiteral("child")).getInt(QStringLiteral("n"), 0), -7);
    EXPECT_EQ(root->childrenNames(), QStringList{QStringLiteral("com")});
}

TEST_F(PlatformPreferencesTest, RemovingANodeRemovesItsSubtreeOnly) {
    auto root = openRoot();
    root->node(QStringLiteral("/a/b")).put(QStringLiteral("k"), QStringLiteral("1"));
    root->node(QStringLiteral("/a/b/c")).put(QStringLiteral("k"), QStringLiteral("2"));
    root->node(QStringLiteral("/a")).put(QStringLiteral("k"), QStringLiteral("3"));
    root->node(QStringLiteral("/a/b")).removeNode();

    auto fresh = openRoot();
    EXPECT_EQ(fresh->node(QStringLiteral("/a")).get(QStringLiteral("k"), QString()), QStringLiteral("3"));
    EXPECT_EQ(fresh->node(QStringLiteral("/a")).childrenNames(), QStringList());
}

TEST_F(PlatformPreferencesTest, AStoreThatCannotBeWrittenIsAnAccessRefusal) {
    {
        QFile blocker(m_dir.filePath(QStringLiteral("blocker")));
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    }
    auto root = openRoot(QStringLiteral("blocker/store.ini"));
    Preferences& node = root->node(QStringLiteral("/com/corvane/Tavlo"));
    node.put(QStringLiteral("port"), QStringLiteral("COM3"));
    EXPECT_THROW(node.flush(), AccessDeniedException);
}

TEST_F(PlatformPreferencesTest, RefusesMalformedPathsAndOversizedTexts) {
    auto root = openRoot();
    EXPECT_THROW(root->node(QStringLiteral("/a//b")), tavlo::base::IllegalArgumentException);
    EXPECT_THROW(root->node(QStringLiteral("/a/")), tavlo::base::IllegalArgumentException);
    EXPECT_THROW(root->node(QString(81, u'n')), tavlo::base::IllegalArgumentException);
    EXPECT_THROW(root->put(QString(81, u'k'), QString()), tavlo::base::IllegalArgumentException);
    EXPECT_THROW(root->put(QStringLiteral("k"), QString(8193, u'v')), tavlo::base::IllegalArgumentException);
    EXPECT_THROW(root->put(QStringLiteral("k"), QStringLiteral("a") + QChar(0)), tavlo::base::IllegalArgumentException);
    EXPECT_NO_THROW(root->put(QString(80, u'k'), QString(8192, u'v')));
    EXPECT_EQ(&root->node(QStringLiteral("/")), root.get());
    EXPECT_EQ(&root->node(QStringLiteral("x")), &root->node(QStringLiteral("/x")));
    EXPECT_EQ(root->node(QStringLiteral("x/y")).absolutePath(), QStringLiteral("/x/y"));
}

struct TypedRead {
    const char* label;
    QString stored;
    int intValue;  // with default -1
    int boolValue; // 1 true, 0 false, -1 default
};

class TypedReadTest : public PlatformPreferencesTest, public ::testing::WithParamInterface<TypedRead> {};

TEST_P(TypedReadTest, IntegerAndBooleanReadsFallBackUnlessTheTextIsExact) {
    const TypedRead& c = GetParam();
    auto root = openRoot();
    root->put(QStringLiteral("k"), c.stored);
    EXPECT_EQ(root->getInt(QStringLiteral("k"), -1), c.intValue);
    const bool fromTrue = root->getBoolean(QStringLiteral("k"), true);
    const bool fromFalse = root->getBoolean(QStringLiteral("k"), false);
    const int boolValue = fromTrue == fromFalse ? int(fromTrue) : -1;
    EXPECT_EQ(boolValue, c.boolValue);
}

INSTANTIATE_TEST_SUITE_P(Texts, TypedReadTest,
                         ::testing::Values(TypedRead{"int", QStringLiteral("12"), 12, -1},
                                           TypedRead{"plus", QStringLiteral("+5"), 5, -1},
                                           TypedRead{"minus", QStringLiteral("-2147483648"), -2147483647 - 1, -1},
                                           TypedRead{"overflow", QStringLiteral("2147483648"), -1, -1},
                                           TypedRead{"blank", QStringLiteral(" 4"), -1, -1},
                                           TypedRead{"decimal", QStringLiteral("4.0"), -1, -1},
                                           TypedRead{"hex", QStringLiteral("0x10"), -1, -1},
                                           TypedRead{"sign_only", QStringLiteral("-"), -1, -1},
                                           TypedRead{"empty", QString(), -1, -1},
                                           TypedRead{"true_upper", QStringLiteral("TRUE"), -1, 1},
                                           TypedRead{"false_mixed", QStringLiteral("fAlse"), -1, 0},
                                           TypedRead{"yes", QStringLiteral("yes"), -1, -1},
                                           TypedRead{"padded_true", QStringLiteral(" true"), -1, -1}),
                         [](const auto& info) { return std::string(info.param.label); });

} // namespace
