// Reading, checking and writing options.json. Every known key has one rule, applied both to a
// file being read and to values set in the options dialog, so the two can never disagree.
#include "options/options.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <limits>
#include <optional>
#include <utility>

#include "options_file_io.h"

namespace veldra::options {

namespace {

using nlohmann::json;

constexpr int kMaxMegabytes = 1024 * 1024;  // a terabyte: beyond it a value is surely a slip

// Walks one object of the document; the first refusal wins and names its key path.
class Reader {
  public:
    Reader(const json& object, std::string path, Result& result)
        : object_(object), path_(std::move(path)), result_(result) {}

    const json* find(const char* key) const {
        if (!object_.is_object()) {
            return nullptr;
        }
        const auto it = object_.find(key);
        return it == object_.end() || it->is_null() ? nullptr : &*it;
    }

    void integer(const char* key, int& value, int min, int max) {
        const json* v = find(key);
        if (v == nullptr) {
            return;
        }
        if (!v->is_number_integer() || v->get<long long>() < min || v->get<long long>() > max) {
            refuse(key, "must be a whole number from " + std::to_string(min) + " to " +
                            std::to_string(max));
            return;
        }
        value = v->get<int>();
    }

    void boolean(const char* key, bool& value) {
        const json* v = find(key);
        if (v == nullptr) {
            return;
        }
        if (!v->is_boolean()) {
            refuse(key, "must be true or false");
            return;
        }
        value = v->get<bool>();
    }

    void text(const char* key, std::string& value) {
        const json* v = find(key);
        if (v == nullptr) {
            return;
        }
        if (!v->is_string()) {
            refuse(key, "must be a text in double quotes");
            return;
        }
        value = v->get<std::string>();
    }

    template <typename Enum, std::size_t N>
    void choice(const char* key, Enum& value, const std::array<Enum, N>& values) {
        const json* v = find(key);
        if (v == nullptr) {
            return;
        }
        for (const Enum candidate : values) {
            if (v->is_string() && v->get<std::string>() == to_string(candidate)) {
                value = candidate;
                return;
            }
        }
        std::string allowed;
        for (std::size_t i = 0; i < N; ++i) {
            allowed += (i == 0 ? "" : i + 1 == N ? " or " : ", ");
            allowed += "\"" + std::string(to_string(values[i])) + "\"";
        }
        refuse(key, "must be " + allowed);
    }

    // A nested object; a key given with something else than an object is refused.
    std::optional<Reader> object(const char* key) {
        const json* v = find(key);
        if (v == nullptr) {
            return std::nullopt;
        }
        if (!v->is_object()) {
            refuse(key, "must be an object { ... }");
            return std::nullopt;
        }
        return Reader(*v, qualified(key), result_);
    }

    void refuse(const char* key, const std::string& what) {
        if (result_.ok) {
            result_ = Result{false, qualified(key) + ": " + what};
        }
    }

  private:
    std::string qualified(const char* key) const {
        return path_.empty() ? std::string(key) : path_ + "." + key;
    }

    const json& object_;
    std::string path_;
    Result& result_;
};

constexpr std::array kRotationModes{RotationMode::Off, RotationMode::Daily, RotationMode::Size};
constexpr std::array kFormats{PayloadFormat::Json, PayloadFormat::Influx};

// A topic level of our own must not hold MQTT's separators or wildcards.
bool valid_topic_part(std::string_view part, bool allow_levels) {
    if (part.empty() || part.front() == '/' || part.back() == '/') {
        return false;
    }
    return std::none_of(part.begin(), part.end(), [allow_levels](char c) {
        return c == '+' || c == '#' || static_cast<unsigned char>(c) < 0x20 ||
               (!allow_levels && c == '/');
    });
}

// The rules that a value must meet beyond its type, shared by parsing and validation.
Result check_values(const Options& o) {
    const MqttOptions& m = o.mqtt;
    const auto refuse = [](const char* key, const char* what) {
        return Result{false, std::string(key) + ": " + what};
    };
    if (!valid_topic_part(m.site, false)) {
        return refuse("mqtt.site",
                      "must be a non-empty name without \"/\", \"+\", \"#\" or control characters");
    }
    if (!valid_topic_part(m.topic_prefix, true)) {
        return refuse("mqtt.topic_prefix",
                      "must be non-empty, hold no \"+\", \"#\" or control characters, and not "
                      "begin or end with \"/\"");
    }
    if (m.enabled && m.host.empty()) {
        return refuse("mqtt.host", "must name the broker when the export is enabled");
    }
    if (m.outbox.empty()) {
        return refuse("mqtt.outbox", "must name the outbox file");
    }
    // MQTT sends a password only together with a user name.
    if (!m.password.empty() && m.username.empty()) {
        return refuse("mqtt.username", "must be given when mqtt.password is");
    }
    if (!m.cert_file.empty() && m.key_file.empty()) {
        return refuse("mqtt.key_file", "must be given together with mqtt.cert_file");
    }
    if (m.cert_file.empty() && !m.key_file.empty()) {
        return refuse("mqtt.cert_file", "must be given together with mqtt.key_file");
    }
    return {};
}

Result read_document(const json& doc, Options& o) {
    Result result;
    if (!doc.is_object()) {
        return Result{false, "must hold one JSON object { ... }"};
    }
    Reader top(doc, "", result);
    if (auto rotation = top.object("rotation")) {
        rotation->choice("mode", o.rotation.mode, kRotationModes);
        rotation->integer("size_mb", o.rotation.size_mb, 1, kMaxMegabytes);
        rotation->integer("keep_days", o.rotation.keep_days, 0, 36500);
    }
    top.integer("disk_guard_mb", o.disk_guard_mb, 0, kMaxMegabytes);
    if (auto mqtt = top.object("mqtt")) {
        MqttOptions& m = o.mqtt;
        mqtt->boolean("enabled", m.enabled);
        mqtt->text("host", m.host);
        mqtt->integer("port", m.port, 1, 65535);
        mqtt->text("site", m.site);
        mqtt->text("topic_prefix", m.topic_prefix);
        mqtt->choice("format", m.format, kFormats);
        mqtt->text("username", m.username);
        mqtt->text("password", m.password);
        mqtt->text("ca_file", m.ca_file);
        mqtt->text("cert_file", m.cert_file);
        mqtt->text("key_file", m.key_file);
        mqtt->text("outbox", m.outbox);
        mqtt->integer("outbox_limit_mb", m.outbox_limit_mb, 1, kMaxMegabytes);
    }
    if (!result) {
        return result;
    }
    return check_values(o);
}

}  // namespace

std::string_view to_string(RotationMode mode) {
    switch (mode) {
        case RotationMode::Off:
            return "off";
        case RotationMode::Daily:
            return "daily";
        case RotationMode::Size:
            return "size";
    }
    return "";
}

std::string_view to_string(PayloadFormat format) {
    switch (format) {
        case PayloadFormat::Json:
            return "json";
        case PayloadFormat::Influx:
            return "influx";
    }
    return "";
}

Result parse_options(std::string_view text, Options& out) {
    json doc;
    try {
        doc = json::parse(text);
    } catch (const json::exception& e) {
        // "[json.exception.parse_error.101] parse error at line 1, column 13: ..." without
        // the library's prefix. A number too large for a double is an out_of_range error of
        // the parser, not a parse_error, and is bad JSON to the user all the same.
        const std::string what = e.what();
        const auto bracket = what.find("] ");
        return Result{false, "not valid JSON (" +
                                 (bracket == std::string::npos ? what : what.substr(bracket + 2)) +
                                 ")"};
    }
    Options parsed;
    if (Result r = read_document(doc, parsed); !r) {
        return r;
    }
    parsed.document = std::move(doc);
    out = std::move(parsed);
    return {};
}

Result load_options(const std::string& path, Options& out) {
    std::string text;
    const detail::ReadOutcome read = detail::read_regular_file(path, text);
    if (read.missing) {
        out = Options{};
        return {};
    }
    if (!read.error.empty()) {
        return Result{false, path + ": " + read.error};
    }
    if (Result r = parse_options(text, out); !r) {
        return Result{false, path + ": " + r.error};
    }
    return {};
}

Result validate_options(const Options& options) {
    // The same reading as a file gets, so a dialog cannot store what a file would refuse.
    Options reread;
    return read_document(json::parse(serialise_options(options)), reread);
}

std::string serialise_options(const Options& o) {
    json doc = o.document.is_object() ? o.document : json::object();
    json& rotation = doc["rotation"];
    if (!rotation.is_object()) {
        rotation = json::object();
    }
    rotation["mode"] = to_string(o.rotation.mode);
    rotation["size_mb"] = o.rotation.size_mb;
    rotation["keep_days"] = o.rotation.keep_days;
    doc["disk_guard_mb"] = o.disk_guard_mb;
    json& mqtt = doc["mqtt"];
    if (!mqtt.is_object()) {
        mqtt = json::object();
    }
    const MqttOptions& m = o.mqtt;
    mqtt["enabled"] = m.enabled;
    mqtt["host"] = m.host;
    mqtt["port"] = m.port;
    mqtt["site"] = m.site;
    mqtt["topic_prefix"] = m.topic_prefix;
    mqtt["format"] = to_string(m.format);
    mqtt["username"] = m.username;
    mqtt["password"] = m.password;
    mqtt["ca_file"] = m.ca_file;
    mqtt["cert_file"] = m.cert_file;
    mqtt["key_file"] = m.key_file;
    mqtt["outbox"] = m.outbox;
    mqtt["outbox_limit_mb"] = m.outbox_limit_mb;
    // Invalid UTF-8 from a dialog is replaced rather than thrown at the caller.
    return doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

Result save_options(const std::string& path, const Options& options) {
    if (Result r = validate_options(options); !r) {
        return r;
    }
    const unsigned mode = options.mqtt.password.empty() ? 0644 : 0600;
    const std::string error = detail::write_file_atomically(path, serialise_options(options), mode);
    if (!error.empty()) {
        return Result{false, path + ": " + error};
    }
    return {};
}

std::string resolve_beside(const std::string& options_path, const std::string& path) {
    const std::filesystem::path p(path);
    if (p.is_absolute() || path.empty()) {
        return path;
    }
    return (std::filesystem::path(options_path).parent_path() / p).lexically_normal().string();
}

}  // namespace veldra::options
