// What the service says of the log-file rules, and the observers options add.
#include "service/option_rules.h"

#include "export/broker_export.h"

namespace veldra::service {
namespace {

constexpr std::uint64_t kMegabyte = 1024ull * 1024ull;

std::string megabytes(std::uint64_t bytes) {
    return std::to_string(bytes / kMegabyte) + " MB";
}

}  // namespace

std::string describe_file_rules(const core::FileRules& rules) {
    std::string text;
    switch (rules.rotation) {
        case core::FileRules::Rotation::Off:
            text = "no rotation";
            break;
        case core::FileRules::Rotation::Daily:
            text = "rotation daily";
            break;
        case core::FileRules::Rotation::Size:
            text = "rotation at " + megabytes(rules.rotate_bytes);
            break;
    }
    if (rules.rotation != core::FileRules::Rotation::Off && rules.keep_days > 0) {
        text += ", keeping " + std::to_string(rules.keep_days) + " days";
    }
    text += rules.disk_guard_bytes > 0 ? "; disk guard " + megabytes(rules.disk_guard_bytes)
                                       : "; no disk guard";
    return text;
}

std::vector<std::unique_ptr<core::SessionObserver>> observers_from_options(
    const options::Options& options, const std::string& options_path, const std::string& log_path,
    core::NoticeSink& notices, std::vector<std::string>& said) {
    std::vector<std::unique_ptr<core::SessionObserver>> observers;
    // Observers that options switch on are created here, each after the ones before it.
    // The outbox is the service's state, kept with its log (under systemd the instance's own
    // writable folder, which other instances do not share); the TLS files are configuration.
    options::MqttOptions mqtt = options.mqtt;
    mqtt.outbox = options::resolve_beside(log_path, mqtt.outbox);
    if (std::unique_ptr<exporter::BrokerExport> broker =
            exporter::make_broker_export(mqtt, options_path, notices)) {
        said.push_back("broker export to " + options.mqtt.host + ":" +
                       std::to_string(options.mqtt.port) + " as site \"" + options.mqtt.site +
                       "\"");
        observers.push_back(std::move(broker));
    }
    return observers;
}

}  // namespace veldra::service
