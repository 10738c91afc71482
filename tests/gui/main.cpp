// The GUI test program: one QApplication on the offscreen platform for every test. Started with
// "--child CASE" it is instead one run of the program's window whose exit status a test checks.
#include "WindowFixture.h"

#include "base/ResourceBundle.h"
#include "tavlo/VudareDiVez.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <cstring>

using namespace tavlo;

namespace {

// Runs fn on the window as soon as the event loop runs.
void onWindow(const std::function<void(VudareDiVezFrame2&)>& fn) {
    QTimer::singleShot(0, [fn] {
        for (QWidget* top : QApplication::topLevelWidgets())
            if (auto* window = qobject_cast<VudareDiVezFrame2*>(top))
                fn(*window);
    });
}

int runChild(const QString& which) {
    QTextStream out(stdout);
    test::useSim();
    tspSimAddPort("COM5", nullptr, nullptr);
    auto root = test::MemoryPreferences::createRoot();
    prefs::ConfigStore store(*root);
    test::ScriptedDialogs dialogs;
    VudareDiVezFrame2::Options options;
    options.dialogs = &dialogs;
    options.store = &store;
    options.updateDraw = [] { return 1; };
    options.synths = [] { return std::unique_ptr<platform::MidiSynth>(); };
    options.keyboards = [](const QString&) { return std::make_unique<platform::RecordingKeyboard>(false); };
    QTemporaryDir dir;
    std::optional<QString> port = QStringLiteral("COM5");

    if (which == QLatin1String("close")) {
        onWindow([](VudareDiVezFrame2& w) {
            w.delayTextField->setText(QStringLiteral("55"));
            w.close();
        });
    } else if (which == QLatin1String("closeRunning")) {
        onWindow([](VudareDiVezFrame2& w) {
            w.startStopJButtonActionPerformed();
            w.close();
        });
    } else if (which == QLatin1String("library")) {
        base::SystemProperties::set(QStringLiteral("TSP_LIBRARY_PATH"), QStringLiteral("/nonexistent/libtspSim.so"));
        serial::SerialPortLocal::resetForTesting();
        port.reset();
    } else if (which == QLatin1String("damaged")) {
        // The window's table without one of the keys the window needs.
        QFile original(QStringLiteral(":/tables/tavlo.Tavlo.properties"));
        QFile damaged(dir.filePath(QStringLiteral("tavlo.Tavlo.properties")));
        if (!original.open(QIODevice::ReadOnly) || !damaged.open(QIODevice::WriteOnly))
            return 99;
        for (const QByteArray& line : original.readAll().split('\n'))
            if (!line.startsWith("VudareDiVezFrame2.startStopJButton.text"))
                damaged.write(line + '\n');
        damaged.close();
        base::ResourceBundle::replaceForTesting(QStringLiteral("tavlo.Tavlo"), damaged.fileName());
    } else if (which == QLatin1String("import")) {
        config::Config exported;
        store.loadConfig(exported, {QStringLiteral("COM5")});
        exported.setDelay(QStringLiteral("77"));
        const QString path = dir.filePath(QStringLiteral("Tavlo.xml"));
        store.exportSettings(exported, path);
        store.settingsNode().put(QStringLiteral("delay"), QStringLiteral("20"));
        dialogs.openFile = path;
        onWindow([](VudareDiVezFrame2& w) {
            w.delayTextField->setText(QStringLiteral("33")); // not saved: the imported value wins
            w.importSettingsButtonActionPerformed();
        });
    }
    const int status = VudareDiVez::run(port, options);
    out << "delay=" << store.settingsNode().get(QStringLiteral("delay"), QStringLiteral("<none>")) << '\n';
    out << "open=" << tspSimIsOpen("COM5") << '\n';
    for (const auto& box : dialogs.boxes)
        out << "box=" << box.title << '\n';
    return status;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc >= 3 && std::strcmp(argv[1], "--child") == 0)
        return runChild(QString::fromLatin1(argv[2]));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
