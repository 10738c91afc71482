#include "output/Outputs.h"

#include "base/SystemProperties.h"
#include "config/Config.h"
#include "output/DataLog.h"
#include "output/MqttOutput.h"
#include "output/ReadingService.h"

namespace tavlo::output {

std::vector<std::shared_ptr<worker::ReadingOutput>>
createOutputs(const config::Config& config, worker::AcquisitionView& view, const worker::CommandSink& commands) {
    std::vector<std::shared_ptr<worker::ReadingOutput>> outputs;
    if (!config.getDataLogFile().isEmpty()) {
        // The shared installation's log is written by every user who runs the program.
        const bool shared = base::SystemProperties::get(QStringLiteral("EDITION"), QString()) == QLatin1String("QX");
        worker::AcquisitionView* reporter = &view;
        outputs.push_back(std::make_shared<DataLog>(
            config.getDataLogFile(), [reporter](const QString& text) { reporter->logImportantEvent(text); }, shared));
        view.logEvent(QStringLiteral("Data log: ") + config.getDataLogFile());
    }
    // The local reading service (its own thread, loopback only).
    if (config.readingServicePort > 0)
        outputs.push_back(ReadingService::create(config, view, commands));
    // Every reading to an MQTT broker (the client library's threads; a journal on disk while it is away).
    if (!config.mqttBroker.trimmed().isEmpty())
        outputs.push_back(MqttOutput::create(config, view, commands));
    return outputs;
}

} // namespace tavlo::output
