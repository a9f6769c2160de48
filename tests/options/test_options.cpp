// options.json as a user edits it by hand: what a missing file or key means, how a bad value
// is refused, that keys we do not know survive a rewrite, and that a password is not left
// readable by others.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "options/options.h"

namespace {

using veldra::options::Options;
namespace opt = veldra::options;
namespace fs = std::filesystem;

class OptionsFile : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("veldra-options-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        path_ = (dir_ / "options.json").string();
    }
    void TearDown() override { fs::remove_all(dir_); }
    void write(const std::string& text) { std::ofstream(path_) << text; }
    std::string read() const {
        std::ifstream in(path_);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    fs::path dir_;
    std::string path_;
};

TEST(Options, MissingKeysMeanTheDefaults) {
    Options o;
    o.disk_guard_mb = 7;
    ASSERT_TRUE(opt::parse_options(R"({"rotation": {"mode": "daily"}})", o));
    EXPECT_EQ(o.rotation.mode, opt::RotationMode::Daily);
    EXPECT_EQ(o.rotation.size_mb, 100);
    EXPECT_EQ(o.rotation.keep_days, 0);
    EXPECT_EQ(o.disk_guard_mb, 100);  // not the 7 from before: a parse starts from defaults
    EXPECT_FALSE(o.mqtt.enabled);
    EXPECT_EQ(o.mqtt.port, 1883);
    EXPECT_EQ(o.mqtt.format, opt::PayloadFormat::Json);
    EXPECT_EQ(o.mqtt.outbox_limit_mb, 1024);
}

TEST(Options, EveryKeyIsRead) {
    Options o;
    ASSERT_TRUE(opt::parse_options(R"({
        "rotation": {"mode": "size", "size_mb": 5, "keep_days": 30},
        "disk_guard_mb": 0,
        "mqtt": {"enabled": true, "host": "broker.lan", "port": 8883, "site": "north-7",
                 "topic_prefix": "farm/soil", "format": "influx", "username": "u",
                 "password": "p", "ca_file": "/etc/ca.pem", "cert_file": "c.pem",
                 "key_file": "k.pem", "outbox": "/var/lib/x.db", "outbox_limit_mb": 10}})",
                                   o));
    EXPECT_EQ(o.rotation.mode, opt::RotationMode::Size);
    EXPECT_EQ(o.rotation.size_mb, 5);
    EXPECT_EQ(o.rotation.keep_days, 30);
    EXPECT_EQ(o.disk_guard_mb, 0);
    EXPECT_TRUE(o.mqtt.enabled);
    EXPECT_EQ(o.mqtt.host, "broker.lan");
    EXPECT_EQ(o.mqtt.port, 8883);
    EXPECT_EQ(o.mqtt.site, "north-7");
    EXPECT_EQ(o.mqtt.topic_prefix, "farm/soil");
    EXPECT_EQ(o.mqtt.format, opt::PayloadFormat::Influx);
    EXPECT_EQ(o.mqtt.password, "p");
    EXPECT_EQ(o.mqtt.key_file, "k.pem");
    EXPECT_EQ(o.mqtt.outbox, "/var/lib/x.db");
    EXPECT_EQ(o.mqtt.outbox_limit_mb, 10);
}

TEST(Options, BadValuesAreRefusedWithTheirReason) {
    struct Case {
        const char* text;
        const char* reason;
    };
    const Case cases[] = {
        {"[1, 2]", "must hold one JSON object"},
        {"{\"rotation\": ", "not valid JSON (parse error at line 1, column 14"},
        {R"({"disk_guard_mb": 1e999})", "not valid JSON (number overflow parsing '1e999')"},
        {R"({"rotation": "daily"})", "rotation: must be an object"},
        {R"({"rotation": {"mode": "weekly"}})",
         R"(rotation.mode: must be "off", "daily" or "size")"},
        {R"({"rotation": {"mode": "size", "size_mb": 0}})",
         "rotation.size_mb: must be a whole number from 1 to"},
        {R"({"rotation": {"keep_days": 1.5}})", "rotation.keep_days: must be a whole number"},
        {R"({"disk_guard_mb": -1})", "disk_guard_mb: must be a whole number from 0"},
        {R"({"disk_guard_mb": "100"})", "disk_guard_mb: must be a whole number"},
        {R"({"mqtt": {"enabled": "yes"}})", "mqtt.enabled: must be true or false"},
        {R"({"mqtt": {"port": 70000}})", "mqtt.port: must be a whole number from 1 to 65535"},
        {R"({"mqtt": {"format": "xml"}})", R"(mqtt.format: must be "json" or "influx")"},
        {R"({"mqtt": {"host": 5}})", "mqtt.host: must be a text"},
        {R"({"mqtt": {"site": "a/b"}})", "mqtt.site: must be a non-empty name"},
        {R"({"mqtt": {"site": "#"}})", "mqtt.site: must be a non-empty name"},
        {R"({"mqtt": {"topic_prefix": "/veldra"}})", "mqtt.topic_prefix: must be non-empty"},
        {R"({"mqtt": {"enabled": true, "host": ""}})", "mqtt.host: must name the broker"},
        {R"({"mqtt": {"cert_file": "c.pem"}})", "mqtt.key_file: must be given together"},
        {R"({"mqtt": {"password": "p"}})", "mqtt.username: must be given when mqtt.password"},
        {R"({"mqtt": {"outbox_limit_mb": 0}})", "mqtt.outbox_limit_mb: must be a whole number"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Options o;
        o.disk_guard_mb = 42;
        const opt::Result r = opt::parse_options(c.text, o);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error.rfind(c.reason, 0), 0u) << r.error;
        EXPECT_EQ(o.disk_guard_mb, 42);  // a refused document changes nothing
    }
}

TEST_F(OptionsFile, MissingFileGivesTheDefaultsAndOtherFilesAreRefused) {
    Options o;
    o.disk_guard_mb = 1;
    ASSERT_TRUE(opt::load_options(path_, o));
    EXPECT_EQ(o.disk_guard_mb, 100);

    write(R"({"mqtt": {"port": "x"}})");
    const opt::Result bad = opt::load_options(path_, o);
    EXPECT_EQ(bad.error, path_ + ": mqtt.port: must be a whole number from 1 to 65535");

    fs::remove(path_);
    ASSERT_EQ(::mkfifo(path_.c_str(), 0600), 0);
    const auto start = std::chrono::steady_clock::now();
    const opt::Result fifo = opt::load_options(path_, o);  // must not wait for a writer
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(fifo.error, path_ + ": is a FIFO, not a regular file");
    fs::remove(path_);
    fs::create_directory(path_);
    EXPECT_EQ(opt::load_options(path_, o).error, path_ + ": is a folder, not a regular file");
}

TEST_F(OptionsFile, UnknownKeysSurviveARewrite) {
    write(R"({"future": {"x": [1, 2]}, "mqtt": {"qos_override": 2, "port": 1884},
              "rotation": {"mode": "daily", "note": "kept"}})");
    Options o;
    ASSERT_TRUE(opt::load_options(path_, o));
    o.mqtt.port = 1999;
    o.rotation.keep_days = 3;
    ASSERT_TRUE(opt::save_options(path_, o));
    const nlohmann::json doc = nlohmann::json::parse(read());
    EXPECT_EQ(doc["future"]["x"], nlohmann::json({1, 2}));
    EXPECT_EQ(doc["mqtt"]["qos_override"], 2);
    EXPECT_EQ(doc["mqtt"]["port"], 1999);
    EXPECT_EQ(doc["rotation"]["note"], "kept");
    EXPECT_EQ(doc["rotation"]["mode"], "daily");
    EXPECT_EQ(doc["rotation"]["keep_days"], 3);
    Options again;
    ASSERT_TRUE(opt::load_options(path_, again));
    EXPECT_EQ(again.mqtt.port, 1999);
}

TEST_F(OptionsFile, APasswordIsReadableByTheOwnerOnly) {
    const auto mode_of = [this] {
        struct stat st {};
        ::stat(path_.c_str(), &st);
        return st.st_mode & 0777;
    };
    Options o;
    ASSERT_TRUE(opt::save_options(path_, o));
    EXPECT_EQ(mode_of(), 0644u);
    o.mqtt.username = "logger";
    o.mqtt.password = "secret";
    ASSERT_TRUE(opt::save_options(path_, o));
    EXPECT_EQ(mode_of(), 0600u);
    // A value a file would refuse is refused from code too, and nothing is written.
    o.mqtt.port = 0;
    EXPECT_EQ(opt::save_options(path_, o).error,
              "mqtt.port: must be a whole number from 1 to 65535");
    Options back;
    ASSERT_TRUE(opt::load_options(path_, back));
    EXPECT_EQ(back.mqtt.port, 1883);
}

TEST(Options, RelativeOutboxLivesBesideTheOptionsFile) {
    EXPECT_EQ(opt::resolve_beside("/etc/veldra-logger/options.json", "out.db"),
              "/etc/veldra-logger/out.db");
    EXPECT_EQ(opt::resolve_beside("/etc/veldra-logger/options.json", "/var/x.db"), "/var/x.db");
    EXPECT_EQ(opt::resolve_beside("options.json", "out.db"), "out.db");
}

}  // namespace
