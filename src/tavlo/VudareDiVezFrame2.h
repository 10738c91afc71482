#pragma once

#include "config/Config.h"
#include "tavlo/FieldChecker.h"
#include "tavlo/RequestHotkey.h"
#include "tavlo/util/UpdateWorkerView.h"
#include "tavlo/util/WindowInstance.h"
#include "worker/Acquisition.h"
#include "worker/AcquisitionView.h"

#include <QMainWindow>
#include <QMap>
#include <QPixmap>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QKeySequenceEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;
class QTextBrowser;

namespace tavlo::prefs {
class ConfigStore;
}
namespace tavlo::base {
class ResourceBundle;
}

namespace tavlo {

class DecimalSeparatorBox;
class EventLog;
class JLabelHtml;
class PreviewPanel;
class ReadingPanel;
class RunCommands;
class TraySupport;
class WindowDialogs;

// A start-up failure after which the program cannot go on: the message to show and the exit status.
struct FatalStartupError {
    int status;
    QString title;
    QString text;
};

// The program's main window: the settings on six tabs plus the event log, the status line, Start and Stop,
// autosave when a settings tab is left, the tray, and the end of the program on closing. The class is split
// by concern into VudareDiVezFrame2*.cpp files: construction, tabs, handlers, event log and acquisition.
class VudareDiVezFrame2 : public QMainWindow,
                          public worker::AcquisitionView,
                          public util::UpdateWorkerView,
                          public FieldChecker::Host {
    Q_OBJECT
public:
    // What tests and the entry point may replace; left empty, the window uses the real parts.
    struct Options {
        WindowDialogs* dialogs = nullptr;               // message boxes and file choices (not owned)
        prefs::ConfigStore* store = nullptr;            // the settings store (not owned)
        std::function<int()> updateDraw;                // the draw from 0 to 3 that decides on the update check
        QString iconDirectory;                          // where the window icons are looked up (default: the resources)
        worker::Acquisition::KeyboardFactory keyboards; // the keyboard output device (default: the desktop's)
        worker::Acquisition::SynthFactory synths;       // the sound synthesiser (default: the desktop's)
        RequestHotkey::Factory hotkeys;                 // the desktop-wide hotkey (default: the desktop's)
        util::WindowInstance* instance = nullptr;       // where later starts and --send reach the window (not owned)
    };

    enum Tab { StartTab, InputTab, ProcessingTab, OutputTab, SettingsTab, ServicesTab, EventLogTab, AboutTab };

    // Builds the whole window and shows it; throws FatalStartupError when the program cannot go on.
    VudareDiVezFrame2(std::optional<QString> commandLinePort, Options options);
    explicit VudareDiVezFrame2(std::optional<QString> commandLinePort)
        : VudareDiVezFrame2(std::move(commandLinePort), Options()) {}
    ~VudareDiVezFrame2() override;

    // WeightWorkerView; logEvent and logImportantEvent from any thread.
    void logEvent(const QString& text) override;
    void logImportantEvent(const QString& text) override;
    void setConnectedInGUI(bool connected) override;
    void update(const worker::DataLine& line) override;
    // The desktop went away under the keyboard output: the run stops and the status line says why; Start tries
    // again with a new keyboard output.
    void keyboardLost(const QString& reason) override;
    // AcquisitionView.
    void showMessage(const QString& title, const QString& text, worker::MessageBoxSeam::Icon icon) override;
    void appendLog(const QList<worker::LogSpan>& spans) override;
    void setStatus(const QString& text) override;
    // The MQTT connection's state, on the Start tab below the plan; any thread.
    void setOutputState(const QString& output, const QString& text) override;
    // UpdateWorkerView: the status line.
    void setText(const QString& text) override;
    // FieldChecker::Host.
    bool isClosing() const override { return m_closing; }
    void showFieldError(const QString& key) override;

    void eventLogAppend(const QString& text);
    void eventLogAppend(const QString& text, const QString& style);
    QStringList getPortList() const { return m_portNames; }
    bool loadConfig();
    void saveConfig();
    bool saveNecessary();
    void updateConfigFromTabs();
    // The keys of the three text tables that the program uses and that are missing; empty when all are there.
    static QStringList checkResourceBundles();
    void addMinimizeToTraySupport();
    void removeMinimizeToTraySupport();

    // Handlers.
    void startStopJButtonActionPerformed();
    void requestButtonActionPerformed();
    void refreshPortsButtonActionPerformed();
    void autoButtonActionPerformed();
    void defaultButtonActionPerformed();
    void customizeButtonActionPerformed();
    void adjustIgnoreButtonActionPerformed();
    void tabbedPaneStateChanged(int index);
    void thisWindowClosed();
    // Closing while values wait for the keyboard output: the first close stops reading and types them (the
    // status line counts down), the second stops after the value under way. True while the window stays open.
    bool typeQueueBeforeClosing();
    void importSettingsButtonActionPerformed();
    void exportSettingsButtonActionPerformed();
    void instrumentBoxItemStateChanged(int index);
    void inputTerminatorBoxItemStateChanged();
    void mathOperationBoxItemStateChanged(int index);
    void keyboardTypeBoxItemStateChanged(int index);
    void delayTextFieldEditingFinished();

    // A later start of the window or tavlo --send: "show" brings the window to the front; "request", "tare",
    // "zero", "start" and "stop" are carried out as the buttons do. Answered through reply.
    void instanceRequest(const QString& command, const QString& argument, const util::WindowInstance::Reply& reply);
    // Shows the window, also from the tray or minimised, and asks the desktop to give it the focus.
    void bringToFront();

    // State, for the entry point and tests.
    const config::Config& config() const { return m_config; }
    config::Config& config() { return m_config; }
    const config::Config& oldConfig() const { return m_oldConfig; }
    bool isConnected() const { return m_connectedGUI; }
    worker::Acquisition& acquisition() { return *m_acquisition; }
    int currentTabIndex() const { return m_currentTabIndex; }
    QTabWidget* tabbedPane() const { return m_tabbedPane; }
    EventLog* eventLog() const { return m_eventLog; }
    JLabelHtml* statusLabel() const { return m_statusJLabel; }
    TraySupport* traySupport() const { return m_tray; }
    WindowDialogs& dialogs() { return *m_dialogs; }
    // The check of a validated text field, or null.
    FieldChecker* checkerFor(const QLineEdit* field) const {
        for (FieldChecker* checker : m_checkers)
            if (checker->field() == field)
                return checker;
        return nullptr;
    }
    // The window icons by pixel size that were found.
    const QMap<int, QPixmap>& icons() const { return m_icons; }

    // Stops and joins every thread the window started, then ends the event loop with that status.
    void exitProgram(int status);

    // The controls, by the names the handlers use.
    QPushButton* startStopJButton = nullptr;
    QPushButton* requestButton = nullptr;
    QPushButton* tareButton = nullptr;
    QPushButton* zeroButton = nullptr;
    ReadingPanel* readingPanel = nullptr;
    QKeySequenceEdit* requestHotkeyEdit = nullptr;
    QPushButton* requestHotkeyClearButton = nullptr;
    QLabel* requestHotkeyNote = nullptr;
    QComboBox* portList = nullptr;
    QPushButton* refreshPortsButton = nullptr;
    QPushButton* autoButton = nullptr;
    QComboBox* instrumentBox = nullptr;
    QPushButton* defaultButton = nullptr;
    QPushButton* customizeButton = nullptr;
    QComboBox* bitRateBox = nullptr;
    QComboBox* dataBitsBox = nullptr;
    QComboBox* stopBitsBox = nullptr;
    QComboBox* parityBox = nullptr;
    QComboBox* inputTerminatorBox = nullptr;
    QComboBox* mathOperationBox = nullptr;
    QLineEdit* mathOperandTextField = nullptr;
    QLineEdit* decimalTextField = nullptr;
    QComboBox* roundingMethodBox = nullptr;
    QComboBox* editOperationComboBox = nullptr;
    QComboBox* editPositionComboBox = nullptr;
    QLineEdit* editNumCharactersTextField = nullptr;
    QLineEdit* removeCharactersTextField = nullptr;
    QCheckBox* ignoreDuplicatesCheckBox = nullptr;
    QPushButton* adjustIgnoreButton = nullptr;
    QCheckBox* stableOnlyCheckBox = nullptr;
    QCheckBox* dataLogCheckBox = nullptr;
    QLineEdit* dataLogPathField = nullptr;
    QLineEdit* replaceControlCharactersField = nullptr;
    QPushButton* dataLogBrowseButton = nullptr;
    DecimalSeparatorBox* decimalSeparatorBox = nullptr;
    QComboBox* outputTerminatorBox = nullptr;
    QComboBox* outputTerminatorBox2 = nullptr;
    QLineEdit* everyXValuesTextField = nullptr;
    QComboBox* startWithBox = nullptr;
    QComboBox* keyboardTypeBox = nullptr;
    QLineEdit* delayTextField = nullptr;
    QComboBox* soundComboBox = nullptr;
    QRadioButton* manualConnectButton = nullptr;
    QRadioButton* autoConnectButton = nullptr;
    QCheckBox* minimizeToTrayCheckBox = nullptr;
    QCheckBox* notifyWhenMinimizedToTrayCheckBox = nullptr;
    QCheckBox* checkForUpdatesCheckBox = nullptr;
    QCheckBox* abortAutoStartCheckBox = nullptr;
    QPushButton* importSettingsButton = nullptr;
    QLineEdit* stationField = nullptr;
    QSpinBox* readingServicePortBox = nullptr;
    QLineEdit* readingServiceOriginsField = nullptr;
    QLineEdit* readingServiceTokenField = nullptr;
    QPushButton* readingServiceCopyButton = nullptr;
    QLabel* readingServiceHintLabel = nullptr;
    QLineEdit* mqttBrokerField = nullptr;
    QLineEdit* mqttTopicField = nullptr;
    QComboBox* mqttQosBox = nullptr;
    QLineEdit* mqttUserField = nullptr;
    QLineEdit* mqttPasswordFileField = nullptr;
    QLineEdit* mqttCaFileField = nullptr;
    QCheckBox* mqttCommandsCheckBox = nullptr;
    QSpinBox* mqttBacklogBox = nullptr;
    QLabel* mqttHintLabel = nullptr;
    QCheckBox* typeValuesCheckBox = nullptr;
    QPushButton* exportSettingsButton = nullptr;
    QTextBrowser* aboutPane = nullptr;
    QLabel* startHintLabel = nullptr;
    QLabel* roundingMethodLabel = nullptr;
    PreviewPanel* previewPanel = nullptr;

    class MathOperandTextFieldUpdate;
    class DecimalTextFieldUpdate;
    class EditNumCharactersTextFieldUpdate;
    class EveryXValuesTextFieldUpdate;
    class RemoveCharactersTextFieldUpdate;

signals:
    // The program should end with this status (the event loop is told as well).
    void exitRequested(int status);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QString text(const char* key) const;
    void error(const QString& message) { showMessage(text("error"), message, worker::MessageBoxSeam::Icon::Error); }

    // Construction (VudareDiVezFrame2.cpp).
    void listPortsAtStart(const std::optional<QString>& commandLinePort);
    void loadConfigAtStart();
    void startUpdateCheck(const Options& options);
    void loadIcons(const QString& directory);
    void autoStart();

    // Tabs (VudareDiVezFrame2Tabs.cpp).
    void buildControls();
    QWidget* buildStartTab();
    QWidget* buildInputTab();
    QWidget* buildProcessingTab();
    QWidget* buildOutputTab();
    QWidget* buildSettingsTab();
    QWidget* buildAboutTab();
    void connectHandlers();
    void installCheckers();
    void fillPortList();
    void showConfigInControls();
    void updateInstrumentKind();
    void updateRequestButton();
    void updateTrayControls();
    // The choices of the tabs' boxes and buttons into config (the text fields keep their own checks).
    void applyChoicesTo(config::Config& config) const;
    // The settings as the tabs show them now, valid field texts included, without any message or change.
    config::Config settingsInTabs() const;
    void connectPreview();

    // The Services tab: the station's name, the reading service and MQTT (VudareDiVezFrame2Services.cpp).
    QWidget* buildServicesTab();
    void showServicesInControls();
    void updateServicesFromControls();

    // The reading service's group on the Services tab (VudareDiVezFrame2ReadingService.cpp).
    QWidget* buildReadingServiceGroup(QWidget* page);
    void showReadingServiceInControls();
    void updateReadingServiceFromControls();
    // The token once the service is switched on (made then when there is none), and the hint below.
    void showReadingServiceToken(bool create);

    // The MQTT group on the Services tab (VudareDiVezFrame2Mqtt.cpp).
    QWidget* buildMqttGroup(QWidget* page);
    void showMqttInControls();
    void updateMqttFromControls();
    // What Start would make of the MQTT settings, or why they cannot be used.
    void showMqttHint();

    // "Type values" on the Output tab; off, the typing controls are disabled (VudareDiVezFrame2Additions.cpp).
    QWidget* buildTypeValuesRow(QWidget* page);
    void updateTypingControls();

    // Stable values only, the data log and network ports (VudareDiVezFrame2Additions.cpp).
    QWidget* buildStableOnlyRow(QWidget* page);
    QWidget* buildDataLogRow(QWidget* page);
    void connectAdditions();
    void showAdditionsInControls();
    void updateAdditionsFromControls();
    void updateStableOnlyBox();

    // The replacement of control characters in records (VudareDiVezFrame2ControlCharacters.cpp).
    QWidget* buildControlCharactersRow(QWidget* page);
    void connectControlCharacters();
    void showControlCharactersInControls();
    // The field's text into config when the instrument's key map can type it.
    void applyControlCharactersTo(config::Config& config) const;
    // The serial settings do not apply to a network address.
    void updatePortKind();
    // The port the port box names: the chosen entry, or the name or address typed into it.
    QString selectedPort() const;

    // The bench: the reading on the Start tab, the instrument's commands, the hotkey and the requests of later
    // starts (VudareDiVezFrame2Bench.cpp).
    void connectBench();
    QWidget* buildHotkeyRow(QWidget* page);
    void showBenchInControls();
    void hotkeyEdited();
    void hotkeyFollowsRun(const worker::StatusEvent& event);
    void sendCommandFrom(config::InstrumentCommand command, const QString& from);
    QString planText(const config::Config& planned) const;

    // Checks of the delay, the operand and the division (VudareDiVezFrame2Handlers.cpp).
    bool checkDelay();
    void checkDivisionNeedsRounding();

    const base::ResourceBundle& m_resourceBundle;
    config::Config m_config;
    config::Config m_oldConfig;
    QStringList m_portNames;
    bool m_portFromCommandLine = false;
    bool m_connectedGUI = false;
    QString m_keyboardLostStatus; // shown instead of the idle status line when the lost run has stopped
    int m_currentTabIndex = 0;
    QWidget* m_currentPage = nullptr;
    bool m_closing = false;
    bool m_filling = false;
    bool m_boxOpen = false;
    bool m_mathRoundingErrorWarningDisplayed = false;
    bool m_exitRequested = false;
    bool m_typingBeforeClose = false; // closed once, the queued values are being typed
    bool m_stoppedTyping = false;     // closed twice
    void queuedValueTyped();

    std::unique_ptr<WindowDialogs> m_ownDialogs;
    WindowDialogs* m_dialogs = nullptr;
    std::unique_ptr<prefs::ConfigStore> m_ownStore;
    prefs::ConfigStore* m_store = nullptr;
    std::unique_ptr<worker::Acquisition> m_acquisition;
    std::unique_ptr<RunCommands> m_runCommands;
    RequestHotkey* m_hotkey = nullptr;
    util::WindowInstance* m_instance = nullptr;
    bool m_hotkeyUnavailableSaid = false;      // a session without global keys is named once per program run
    QStringList* m_capturedMessages = nullptr; // the boxes shown while --send start runs
    void shutdownAcquisition();
    std::shared_ptr<void> m_updateWorker;
    std::function<void()> m_stopUpdateCheck;

    QTabWidget* m_tabbedPane = nullptr;
    QList<QWidget*> m_pages;
    QStringList m_pageTitles;
    EventLog* m_eventLog = nullptr;
    JLabelHtml* m_statusJLabel = nullptr;
    TraySupport* m_tray = nullptr;
    QMap<int, QPixmap> m_icons;
    QList<FieldChecker*> m_checkers;
};

} // namespace tavlo
