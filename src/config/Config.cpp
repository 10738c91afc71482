#include "config/Config.h"

#include "config/Instrument.h"

#include <algorithm>
#include <tuple>

namespace tavlo::config {

Config::Config() = default;

Config::Config(QString port, const H::Instrument* instrument, int bitRate, int dataBits, int stopBits, int parity,
               int inputTerminator, const H::Connect* connect, const H::KeyboardType* keyboardType, QString delay,
               const H::DecimalSeparator* decimalSeparator, const H::StartWith* startWith,
               const H::OutputTerminator* outputTerminator, const H::OutputTerminator* outputTerminator2,
               QString everyXValues, const H::MathOperation* mathOperation, QString mathOperand, QString decimalPlaces,
               const H::RoundingMethod* roundingMethod, const H::Sound* sound, bool minimizeToTray_,
               bool notifyWhenMinimizedToTray_, bool checkForUpdates_, bool abortAutoStartWhenPrevPortNotAvailable_,
               const H::EditOperation* editOperation, const H::EditPosition* editPosition, QString editNumCharacters,
               QString removeCharacters, QString customRegEx, bool ignoreDuplicates_, QString ignoreTimeLimit,
               QString ignoreDifference)
    : minimizeToTray(minimizeToTray_), notifyWhenMinimizedToTray(notifyWhenMinimizedToTray_),
      checkForUpdates(checkForUpdates_),
      abortAutoStartWhenPrevPortNotAvailable(abortAutoStartWhenPrevPortNotAvailable_),
      ignoreDuplicates(ignoreDuplicates_), m_port(std::move(port)), m_instrument(instrument), m_bitRate(bitRate),
      m_dataBits(dataBits), m_stopBits(stopBits), m_parity(parity), m_inputTerminator(inputTerminator),
      m_decimalSeparator(decimalSeparator), m_startWith(startWith), m_outputTerminator(outputTerminator),
      m_outputTerminator2(outputTerminator2), m_everyXValues(std::move(everyXValues)), m_connect(connect),
      m_mathOperation(mathOperation), m_mathOperand(std::move(mathOperand)), m_decimalPlaces(std::move(decimalPlaces)),
      m_roundingMethod(roundingMethod), m_sound(sound), m_keyboardType(keyboardType), m_delay(std::move(delay)),
      m_editOperation(editOperation), m_editPosition(editPosition), m_editNumCharacters(std::move(editNumCharacters)),
      m_removeCharacters(std::move(removeCharacters)), m_customRegEx(std::move(customRegEx)),
      m_ignoreTimeLimit(std::move(ignoreTimeLimit)), m_ignoreDifference(std::move(ignoreDifference)) {}

Config Config::copyConfig(const Config& s) {
    Config copy(s.getPort(), s.getInstrument(), s.getBitRate(), s.getDataBits(), s.getStopBits(), s.getParity(),
                s.getInputTerminator(), s.getConnect(), s.getKeyboardType(), s.getDelay(), s.getDecimalSeparator(),
                s.getStartWith(), s.getOutputTerminator(), s.getOutputTerminator2(), s.getEveryXValues(),
                s.getMathOperation(), s.getMathOperand(), s.getDecimalPlaces(), s.getRoundingMethod(), s.getSound(),
                s.minimizeToTray, s.notifyWhenMinimizedToTray, s.checkForUpdates,
                s.abortAutoStartWhenPrevPortNotAvailable, s.getEditOperation(), s.getEditPosition(),
                s.getEditNumCharacters(), s.getRemoveCharacters(), s.getCustomRegEx(), s.ignoreDuplicates,
                s.getIgnoreTimeLimit(), s.getIgnoreDifference());
    copy.stableOnly = s.stableOnly;
    copy.m_dataLogFile = s.m_dataLogFile;
    static_cast<ConfigAdditions&>(copy) = s;
    return copy;
}

bool Config::hasChanged(const Config& o) const {
    // Texts compare by content; option constants are singletons and compare by identity.
    const auto settings = [](const Config& c) {
        return std::tie(c.m_port, c.m_instrument, c.m_bitRate, c.m_dataBits, c.m_stopBits, c.m_parity,
                        c.m_inputTerminator, c.m_decimalSeparator, c.m_startWith, c.m_outputTerminator,
                        c.m_outputTerminator2, c.m_everyXValues, c.m_connect, c.m_mathOperation, c.m_mathOperand,
                        c.m_decimalPlaces, c.m_roundingMethod, c.m_sound, c.m_keyboardType, c.m_delay,
                        c.m_editOperation, c.m_editPosition, c.m_editNumCharacters, c.m_removeCharacters,
                        c.m_customRegEx, c.m_ignoreTimeLimit, c.m_ignoreDifference, c.minimizeToTray,
                        c.notifyWhenMinimizedToTray, c.checkForUpdates, c.abortAutoStartWhenPrevPortNotAvailable,
                        c.ignoreDuplicates, c.stableOnly, c.m_dataLogFile);
    };
    return settings(*this) != settings(o) ||
           static_cast<const ConfigAdditions&>(*this) != static_cast<const ConfigAdditions&>(o);
}

int Config::getDelayAsInt() const {
    if (const auto v = H::parseInteger(m_delay))
        return *v;
    return *H::parseInteger(H::Delay::getDefault());
}

std::optional<int> Config::getDecimalPlacesAsInt() const {
    return H::parseInteger(m_decimalPlaces);
}

int Config::getEditNumCharactersAsInt() const {
    return H::parseInteger(m_editNumCharacters).value_or(0);
}

int Config::getEveryXValuesAsInt() const {
    return H::parseInteger(m_everyXValues).value_or(0);
}

base::Decimal Config::getMathOperandAsBigDecimal() const {
    return base::Decimal::parse(m_mathOperand);
}

bool Config::roundingEnabled() const {
    const auto places = getDecimalPlacesAsInt();
    return places && *places >= 0 && *places <= 7;
}

bool Config::mathOperationEnabled() const {
    if (!m_mathOperation || m_mathOperation == &H::MathOperation::NONE || m_mathOperand.isEmpty())
        return false;
    if (m_mathOperation == &H::MathOperation::MULTIPLY)
        return true;
    // A division is only carried out together with rounding: it needs a number of decimal places.
    return roundingEnabled();
}

void Config::addPropertyChangeListener(const QString& propertyName, PropertyChangeListener* listener) {
    if (listener)
        m_propertyChangeSupport[propertyName].push_back(listener);
}

void Config::removePropertyChangeListener(const QString& propertyName, PropertyChangeListener* listener) {
    const auto it = m_propertyChangeSupport.find(propertyName);
    if (it == m_propertyChangeSupport.end())
        return;
    auto& list = it->second;
    const auto pos = std::find(list.begin(), list.end(), listener);
    if (pos != list.end())
        list.erase(pos);
}

void Config::setInstrument(const H::Instrument* instrument) {
    m_instrument = instrument;
    if (!instrument)
        return;
    const PropertyChangeEvent event{H::instrumentTypeName(instrument->getInstrumentType()), nullptr, instrument};
    const auto it = m_propertyChangeSupport.find(event.propertyName);
    if (it == m_propertyChangeSupport.end())
        return;
    // A copy, so that a listener may remove itself while being told.
    const auto listeners = it->second;
    for (PropertyChangeListener* listener : listeners)
        listener->propertyChange(event);
}

} // namespace tavlo::config
