// The settings beyond the panel-state record: log rotation, the disk guard and the broker
// export, kept in one JSON file ("options.json" beside settings.txt for the window, --options
// for the service) so that configuration files stay interchangeable with the record.
//
// A missing file or key means the default (the behaviour without options); a bad value is
// refused with its reason; keys this program does not know are kept when the file is written.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace veldra::options {

inline constexpr const char* kOptionsFileName = "options.json";

enum class RotationMode { Off, Daily, Size };

struct RotationOptions {
    RotationMode mode = RotationMode::Off;
    int size_mb = 100;  // mode Size: a new pair of files once the text log reaches this
    int keep_days = 0;  // delete our dated logs older than this; 0 keeps everything
};

enum class PayloadFormat { Json, Influx };

struct MqttOptions {
    bool enabled = false;
    std::string host = "127.0.0.1";
    int port = 1883;
    std::string site = "field-1";
    std::string topic_prefix = "veldra";
    PayloadFormat format = PayloadFormat::Json;
    std::string username;
    std::string password;
    std::string ca_file;
    std::string cert_file;
    std::string key_file;
    std::string outbox = "veldra-outbox.db";  // relative: beside the options file
    int outbox_limit_mb = 1024;
};

struct Options {
    RotationOptions rotation;
    int disk_guard_mb = 100;  // warn when the log folder has less free space; 0: never
    MqttOptions mqtt;
    // The document as read: what this program does not know survives a rewrite.
    nlohmann::json document = nlohmann::json::object();
};

// Refusals name the key and say what it must be, e.g.
// "rotation.mode: must be \"off\", \"daily\" or \"size\"".
struct Result {
    bool ok = true;
    std::string error;
    explicit operator bool() const { return ok; }
};

// Parses a whole options document; on refusal `out` is left unchanged.
Result parse_options(std::string_view text, Options& out);
// Reads the file: a missing file gives the defaults; one that is no regular file, cannot be
// read or does not parse is refused, its reason prefixed with the path. Never blocks on a FIFO.
Result load_options(const std::string& path, Options& out);

// Checks values set in code (a dialog) by the same rules as parsing.
Result validate_options(const Options& options);
// The document to write: the document read, with every known key set from the values.
std::string serialise_options(const Options& options);
// Writes atomically (a temporary file beside it, fsync, rename). Mode 0600 when the options
// hold a password, so that other users cannot read it; 0644 otherwise.
Result save_options(const std::string& path, const Options& options);

// A relative outbox path is resolved beside the options file.
std::string resolve_beside(const std::string& options_path, const std::string& path);

std::string_view to_string(RotationMode mode);
std::string_view to_string(PayloadFormat format);

}  // namespace veldra::options
