#pragma once

#include "base/Decimal.h"
#include "config/ConfigHelper.h"

#include <QString>
#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace tavlo::config {

// What a listener of the settings record receives: the property name, the old value (always none here)
// and the new instrument.
struct PropertyChangeEvent {
    QString propertyName;
    const ConfigHelper::Instrument* oldValue = nullptr;
    const ConfigHelper::Instrument* newValue = nullptr;
};

class PropertyChangeListener {
public:
    virtual ~PropertyChangeListener() = default;
    virtual void propertyChange(const PropertyChangeEvent& event) = 0;
};

// The settings added for the bench, the reading service and the fleet. Each is off (or at its default) unless
// set, and the store keeps only those that are set. Copied and compared as a whole.
struct ConfigAdditions {
    // Each run of control characters inside a record becomes this text before extraction, and those at the
    // record's ends are removed; empty: off.
    QString replaceControlCharacters;
    // The desktop-wide key combination that sends the instrument's request (portable key-sequence text, as
    // "Ctrl+Alt+W"); empty: none.
    QString requestHotkey;
    // Values are typed (or printed); off, readings are only logged and served.
    bool typeValues = true;
    // The station's name in readings and MQTT topics; empty: the computer's host name.
    QString station;
    // The local reading service's TCP port on the loopback addresses; 0: off.
    int readingServicePort = 0;
    // The web origins (space-separated, exact) whose pages may use the reading service.
    QString readingServiceOrigins;
    // MQTT: the broker (tcp://HOST:PORT or ssl://HOST:PORT; empty: off), the readings topic ({station} is
    // replaced; empty: tavlo/{station}/readings), the quality of service, the user, the file holding the
    // password, the CA certificates for ssl://, commands from the broker, and the bound of the backlog.
    QString mqttBroker;
    QString mqttTopic;
    int mqttQos = 1;
    QString mqttUser;
    QString mqttPasswordFile;
    QString mqttCaFile;
    bool mqttCommands = false;
    int mqttBacklog = 100000;

    bool operator==(const ConfigAdditions&) const = default;
};

// All user settings in one plain record. Setters store without validation; only setInstrument notifies.
// The record is written on the window's thread and read by the workers when they are built.
class Config : public ConfigAdditions {
public:
    using H = ConfigHelper;

    Config();
    Config(QString port, const H::Instrument* instrument, int bitRate, int dataBits, int stopBits, int parity,
           int inputTerminator, const H::Connect* connect, const H::KeyboardType* keyboardType, QString delay,
           const H::DecimalSeparator* decimalSeparator, const H::StartWith* startWith,
           const H::OutputTerminator* outputTerminator, const H::OutputTerminator* outputTerminator2,
           QString everyXValues, const H::MathOperation* mathOperation, QString mathOperand, QString decimalPlaces,
           const H::RoundingMethod* roundingMethod, const H::Sound* sound, bool minimizeToTray,
           bool notifyWhenMinimizedToTray, bool checkForUpdates, bool abortAutoStartWhenPrevPortNotAvailable,
           const H::EditOperation* editOperation, const H::EditPosition* editPosition, QString editNumCharacters,
           QString removeCharacters, QString customRegEx, bool ignoreDuplicates, QString ignoreTimeLimit,
           QString ignoreDifference);

    // A record owns its listeners, so it is moved, not copied; copyConfig makes an independent copy.
    Config(const Config&) = delete;
    Config& operator=(const Config&) = delete;
    Config(Config&&) = default;
    Config& operator=(Config&&) = default;

    // A new record with the source's settings, its own empty listener registry and no prevPort.
    static Config copyConfig(const Config& source);

    // True when at least one setting differs; prevPort and the listeners are not compared.
    bool hasChanged(const Config& other) const;

    int getDelayAsInt() const;
    std::optional<int> getDecimalPlacesAsInt() const;
    int getEditNumCharactersAsInt() const;
    int getEveryXValuesAsInt() const;
    // NumberFormatException when mathOperand is not a decimal number (the empty text included).
    base::Decimal getMathOperandAsBigDecimal() const;
    bool roundingEnabled() const;
    bool mathOperationEnabled() const;

    void addPropertyChangeListener(const QString& propertyName, PropertyChangeListener* listener);
    void removePropertyChangeListener(const QString& propertyName, PropertyChangeListener* listener);

    // Stores the instrument and tells the listeners of its type ("NUMBER" or "TEXT"), on every call.
    void setInstrument(const H::Instrument* instrument);
    const H::Instrument* getInstrument() const { return m_instrument; }

    const QString& getPort() const { return m_port; }
    void setPort(const QString& v) { m_port = v; }
    int getBitRate() const { return m_bitRate; }
    void setBitRate(int v) { m_bitRate = v; }
    int getDataBits() const { return m_dataBits; }
    void setDataBits(int v) { m_dataBits = v; }
    int getStopBits() const { return m_stopBits; }
    void setStopBits(int v) { m_stopBits = v; }
    int getParity() const { return m_parity; }
    void setParity(int v) { m_parity = v; }
    int getInputTerminator() const { return m_inputTerminator; }
    void setInputTerminator(int v) { m_inputTerminator = v; }
    const H::DecimalSeparator* getDecimalSeparator() const { return m_decimalSeparator; }
    void setDecimalSeparator(const H::DecimalSeparator* v) { m_decimalSeparator = v; }
    const H::StartWith* getStartWith() const { return m_startWith; }
    void setStartWith(const H::StartWith* v) { m_startWith = v; }
    const H::OutputTerminator* getOutputTerminator() const { return m_outputTerminator; }
    void setOutputTerminator(const H::OutputTerminator* v) { m_outputTerminator = v; }
    const H::OutputTerminator* getOutputTerminator2() const { return m_outputTerminator2; }
    void setOutputTerminator2(const H::OutputTerminator* v) { m_outputTerminator2 = v; }
    const QString& getEveryXValues() const { return m_everyXValues; }
    void setEveryXValues(const QString& v) { m_everyXValues = v; }
    const H::Connect* getConnect() const { return m_connect; }
    void setConnect(const H::Connect* v) { m_connect = v; }
    const H::MathOperation* getMathOperation() const { return m_mathOperation; }
    void setMathOperation(const H::MathOperation* v) { m_mathOperation = v; }
    const QString& getMathOperand() const { return m_mathOperand; }
    void setMathOperand(const QString& v) { m_mathOperand = v; }
    const QString& getDecimalPlaces() const { return m_decimalPlaces; }
    void setDecimalPlaces(const QString& v) { m_decimalPlaces = v; }
    const H::RoundingMethod* getRoundingMethod() const { return m_roundingMethod; }
    void setRoundingMethod(const H::RoundingMethod* v) { m_roundingMethod = v; }
    const H::Sound* getSound() const { return m_sound; }
    void setSound(const H::Sound* v) { m_sound = v; }
    const H::KeyboardType* getKeyboardType() const { return m_keyboardType; }
    void setKeyboardType(const H::KeyboardType* v) { m_keyboardType = v; }
    const QString& getDelay() const { return m_delay; }
    void setDelay(const QString& v) { m_delay = v; }
    const std::optional<QString>& getPrevPort() const { return m_prevPort; }
    void setPrevPort(const std::optional<QString>& v) { m_prevPort = v; }
    const H::EditOperation* getEditOperation() const { return m_editOperation; }
    void setEditOperation(const H::EditOperation* v) { m_editOperation = v; }
    const H::EditPosition* getEditPosition() const { return m_editPosition; }
    void setEditPosition(const H::EditPosition* v) { m_editPosition = v; }
    const QString& getEditNumCharacters() const { return m_editNumCharacters; }
    void setEditNumCharacters(const QString& v) { m_editNumCharacters = v; }
    const QString& getRemoveCharacters() const { return m_removeCharacters; }
    void setRemoveCharacters(const QString& v) { m_removeCharacters = v; }
    const QString& getCustomRegEx() const { return m_customRegEx; }
    void setCustomRegEx(const QString& v) { m_customRegEx = v; }
    const QString& getIgnoreTimeLimit() const { return m_ignoreTimeLimit; }
    void setIgnoreTimeLimit(const QString& v) { m_ignoreTimeLimit = v; }
    const QString& getIgnoreDifference() const { return m_ignoreDifference; }
    void setIgnoreDifference(const QString& v) { m_ignoreDifference = v; }
    // The CSV file every framed record is logged to; empty when the data log is off.
    const QString& getDataLogFile() const { return m_dataLogFile; }
    void setDataLogFile(const QString& v) { m_dataLogFile = v; }

    // The five booleans have no accessors; the window reads and writes them directly.
    bool minimizeToTray = true;
    bool notifyWhenMinimizedToTray = true;
    bool checkForUpdates = true;
    bool abortAutoStartWhenPrevPortNotAvailable = true;
    bool ignoreDuplicates = false;
    // Records the instrument's stability rule marks unstable are not typed; no effect without a rule.
    bool stableOnly = false;

private:
    QString m_port;
    const H::Instrument* m_instrument = nullptr;
    int m_bitRate = 0;
    int m_dataBits = 0;
    int m_stopBits = 0;
    int m_parity = 0;
    int m_inputTerminator = 0;
    const H::DecimalSeparator* m_decimalSeparator = &H::DecimalSeparator::DOT;
    const H::StartWith* m_startWith = &H::StartWith::NONE;
    const H::OutputTerminator* m_outputTerminator = &H::OutputTerminator::NONE;
    const H::OutputTerminator* m_outputTerminator2 = &H::OutputTerminator::NONE;
    QString m_everyXValues;
    const H::Connect* m_connect = &H::Connect::MANUAL;
    const H::MathOperation* m_mathOperation = &H::MathOperation::NONE;
    QString m_mathOperand;
    QString m_decimalPlaces;
    const H::RoundingMethod* m_roundingMethod = &H::RoundingMethod::HALF_UP;
    const H::Sound* m_sound = &H::Sound::NONE;
    const H::KeyboardType* m_keyboardType = &H::KeyboardType::QUERTY;
    QString m_delay = QStringLiteral("20");
    std::optional<QString> m_prevPort;
    const H::EditOperation* m_editOperation = &H::EditOperation::REMOVE;
    const H::EditPosition* m_editPosition = &H::EditPosition::FIRST;
    QString m_editNumCharacters;
    QString m_removeCharacters;
    QString m_customRegEx;
    QString m_ignoreTimeLimit;
    QString m_ignoreDifference;
    QString m_dataLogFile;
    std::map<QString, std::vector<PropertyChangeListener*>> m_propertyChangeSupport;
};

} // namespace tavlo::config
