// Sessions of the measurement core on the simulated sensor bus, published to a real broker
// (the Debian package's mosquitto, started and stopped by each test): every cycle arrives with
// its values, null for failed queries and gap-free seq numbers; a broker that is away for
// twenty cycles gets all of them afterwards, in order; a wrong password or a TLS certificate
// from the wrong CA is said once, clearly, while the files go on, and the export catches up
// once the setting is right; the line protocol reads back by its grammar; and a full outbox
// stops the export aloud, never silently.
#include <gtest/gtest.h>

#include <fstream>
#include <mutex>
#include <thread>

#include "export/broker_export.h"
#include "export/payload.h"
#include "export_checks.h"
#include "line_protocol.h"
#include "support/broker.h"
#include "support/export_rig.h"

namespace {

using namespace export_test;
using namespace std::chrono_literals;
using nlohmann::json;
using veldra::exporter::BrokerExport;
using veldra::exporter::ExportSettings;
namespace fs = std::filesystem;
namespace sim = veldra::sim;

constexpr int kGood = 0x0a1b2c;
constexpr int kText = 0x0d0d0d;    // answers, but not with a number
constexpr int kSilent = 0x0bad00;  // listed, never answers

std::vector<std::string> data_lines(const fs::path& log) {
    std::ifstream in(log);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines.size() > 3 ? std::vector<std::string>(lines.begin() + 3, lines.end())
                            : std::vector<std::string>{};
}

class ExportSession : public ::testing::Test {
  protected:
    TempDir dir_;
};

TEST_F(ExportSession, EveryCycleArrivesWithItsValuesNullsForFailedQueriesAndGaplessSeq) {
    Broker broker;
    ASSERT_TRUE(broker.start());
    Subscriber subscriber(broker.port(), "veldra/#");
    ASSERT_TRUE(subscriber.subscribe());

    ExportRig rig(dir_.path(), {kGood, kText}, {kGood, kText, kSilent});
    rig.sim().set_value(kGood, sim::Quantity::Counts, 12345);
    rig.sim().set_value(kGood, sim::Quantity::Permittivity, 21.5);
    rig.sim().set_value(kGood, sim::Quantity::WaterContent, 33.25);
    rig.sim().set_value(kGood, sim::Quantity::Temperature, 23.4);
    constexpr int kCycles = 3;
    for (int i = 0; i < 4 * kCycles; ++i) {
        rig.sim().script_reply_text(kText, "n/a");
    }
    ASSERT_EQ(rig.make_export(rig.settings(broker.port())).problem(), "");
    ASSERT_TRUE(rig.start());
    for (int i = 1; i < kCycles; ++i) {
        rig.cycle();
    }
    ASSERT_TRUE(subscriber.wait_until([](const std::vector<Received>& all) {
        return std::count_if(all.begin(), all.end(), [](auto& r) { return !is_status(r); }) >=
               3 * kCycles;
    }));
    rig.stop();
    ASSERT_TRUE(subscriber.wait_until([](const std::vector<Received>& all) {
        const std::vector<std::string> s = statuses_of(all);
        return !s.empty() && s.back() == "offline";
    }));

    const std::vector<Received> all = subscriber.received();
    EXPECT_EQ(statuses_of(all), (std::vector<std::string>{"online", "offline"}));
    const auto records = rig.recorder().records();
    const std::vector<std::string> lines = data_lines(rig.text_log());
    ASSERT_EQ(records.size(), static_cast<std::size_t>(kCycles));
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kCycles));

    const std::vector<json> good = json_of(all, "veldra/field-1/0a1b2c");
    const std::vector<json> text = json_of(all, "veldra/field-1/0d0d0d");
    const std::vector<json> silent = json_of(all, "veldra/field-1/0bad00");
    ASSERT_EQ(good.size(), static_cast<std::size_t>(kCycles));
    ASSERT_EQ(text.size(), static_cast<std::size_t>(kCycles));
    ASSERT_EQ(silent.size(), static_cast<std::size_t>(kCycles));
    for (std::size_t i = 0; i < records.size(); ++i) {
        SCOPED_TRACE("cycle " + std::to_string(i + 1));
        const std::int64_t utc_ns =
            std::chrono::duration_cast<std::chrono::nanoseconds>(records[i].utc.time_since_epoch())
                .count();
        for (const std::vector<json>* sensor : {&good, &text, &silent}) {
            const json& m = (*sensor)[i];
            EXPECT_EQ(m["seq"], i + 1);
            EXPECT_EQ(m["site"], "field-1");
            EXPECT_EQ(m["time"], veldra::exporter::iso_utc_millis(utc_ns));
            // The time stamp as the log line of the same cycle shows it.
            EXPECT_EQ(lines[i].substr(2, 19), m["local"].get<std::string>());
        }
        EXPECT_EQ(good[i]["sensor"], "0a1b2c");
        EXPECT_EQ(good[i]["counts"], 12345);
        EXPECT_EQ(good[i]["permittivity"], 21.5);
        EXPECT_EQ(good[i]["water_content"], 33.25);
        EXPECT_EQ(good[i]["temperature"], 23.4);
        for (const char* q : {"counts", "permittivity", "water_content", "temperature"}) {
            EXPECT_EQ(good[i]["status"][q], "ok");
            // The CSV log shows 0 here; a receiver must not take it for a measured 0.
            EXPECT_TRUE(text[i][q].is_null()) << q;
            EXPECT_EQ(text[i]["status"][q], "not_a_number");
            EXPECT_TRUE(silent[i][q].is_null()) << q;
            EXPECT_EQ(silent[i]["status"][q], "no_reply");
        }
    }
}

TEST_F(ExportSession, ABrokerAwayForTwentyCyclesGetsAllOfThemInOrderWhenItIsBack) {
    Broker broker;
    ASSERT_TRUE(broker.start());
    Subscriber subscriber(broker.port(), "veldra/#");
    ASSERT_TRUE(subscriber.subscribe());
    ExportRig rig(dir_.path(), {kGood}, {kGood});
    rig.make_export(rig.settings(broker.port()));
    ASSERT_TRUE(rig.start());
    rig.cycle();
    rig.cycle();
    const std::string topic = "veldra/field-1/0a1b2c";
    ASSERT_TRUE(subscriber.wait_until(
        [&](const std::vector<Received>& all) { return has_all(seqs_of(all, topic), 3); }));

    broker.stop();
    ASSERT_TRUE(rig.recorder().wait_for_notice("reconnecting to 127.0.0.1"))
        << rig.recorder().texts();
    for (int i = 0; i < 20; ++i) {
        rig.cycle();
    }
    EXPECT_EQ(data_lines(rig.text_log()).size(), 23u);  // the files never waited
    ASSERT_TRUE(broker.start());
    ASSERT_TRUE(subscriber.wait_until(
        [&](const std::vector<Received>& all) { return has_all(seqs_of(all, topic), 23); }));
    EXPECT_TRUE(rig.recorder().wait_for_notice("the 20 waiting messages delivered"));
    rig.stop();

    const std::vector<std::int64_t> seqs = seqs_of(subscriber.received(), topic);
    EXPECT_TRUE(in_order_at_least_once(seqs));
    EXPECT_EQ(*std::max_element(seqs.begin(), seqs.end()), 23);
}

// A setting that the broker refuses: said once however often the connection is tried, the
// log files go on, and a session with the setting put right delivers what waited.
struct RefusalCase {
    const char* name;
    BrokerConfig broker;
    std::function<void(ExportSettings&, const Broker&, bool right)> configure;
    std::vector<std::string> said;  // parts of the one notice
};

BrokerConfig login_broker() {
    BrokerConfig c;
    c.login = Login{"logger", "s3cret"};
    return c;
}

BrokerConfig tls_broker(bool client_certificates = false) {
    BrokerConfig c;
    c.tls = true;
    c.client_certificates = client_certificates;
    return c;
}

void PrintTo(const RefusalCase& c, std::ostream* os) {
    *os << c.name;
}

class ExportRefusal : public ExportSession, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(ExportRefusal, IsSaidOnceTheFilesGoOnAndTheExportCatchesUpWhenPutRight) {
    const RefusalCase& c = GetParam();
    Broker broker(c.broker);
    ASSERT_TRUE(broker.start());
    Subscriber subscriber(broker.port(), "veldra/#", c.broker.login);
    ASSERT_TRUE(subscriber.subscribe());
    ExportRig rig(dir_.path(), {kGood}, {kGood});

    {
        ExportSettings wrong = rig.settings(broker.port());
        c.configure(wrong, broker, false);
        rig.make_export(wrong);
        ASSERT_TRUE(rig.start());
        ASSERT_TRUE(rig.recorder().wait_for_notice(c.said.front())) << rig.recorder().texts();
        rig.cycle();
        rig.cycle();
        // Long enough for several attempts at the test's pace (50 to 300 ms apart).
        std::this_thread::sleep_for(1s);
        rig.stop();
        EXPECT_EQ(data_lines(rig.text_log()).size(), 3u);
    }
    std::vector<veldra::core::Notice> said;
    for (const auto& n : rig.recorder().notices()) {
        if (n.kind == veldra::core::NoticeKind::ExportWarning) {
            said.push_back(n);
        }
    }
    ASSERT_EQ(said.size(), 1u) << rig.recorder().texts();
    for (const std::string& part : c.said) {
        EXPECT_NE(said[0].text.find(part), std::string::npos) << said[0].text;
    }
    EXPECT_EQ(rig.recorder().count("stopped with the session; 3 messages waiting in the outbox"),
              1u);
    const std::string topic = "veldra/field-1/0a1b2c";
    EXPECT_TRUE(seqs_of(subscriber.received(), topic).empty());

    ExportSettings right = rig.settings(broker.port());
    c.configure(right, broker, true);
    rig.make_export(right);
    ASSERT_TRUE(rig.start());
    rig.cycle();
    ASSERT_TRUE(subscriber.wait_until(
        [&](const std::vector<Received>& all) { return has_all(seqs_of(all, topic), 5); }));
    rig.stop();
    EXPECT_TRUE(in_order_at_least_once(seqs_of(subscriber.received(), topic)));
}

INSTANTIATE_TEST_SUITE_P(
    , ExportRefusal,
    ::testing::Values(
        RefusalCase{"WrongPassword",
                    login_broker(),
                    [](ExportSettings& s, const Broker&, bool right) {
                        s.username = "logger";
                        s.password = right ? "s3cret" : "wrong";
                    },
                    {"refused the login: Connection Refused: not authorised (check",
                     "check mqtt.username and mqtt.password"}},
        RefusalCase{
            "CertificateFromAnotherCa",
            tls_broker(),
            [](ExportSettings& s, const Broker& b, bool right) {
                s.port = b.tls_port();
                s.ca_file =
                    (right ? test_certificates().ca : test_certificates().other_ca).string();
            },
            {"TLS: certificate verify failed",
             "not signed by the CA in mqtt.ca_file " + test_certificates().other_ca.string()}},
        RefusalCase{"NoClientCertificate",
                    tls_broker(true),
                    [](ExportSettings& s, const Broker& b, bool right) {
                        s.port = b.tls_port();
                        s.ca_file = test_certificates().ca.string();
                        if (right) {
                            s.cert_file = test_certificates().client_cert.string();
                            s.key_file = test_certificates().client_key.string();
                        }
                    },
                    {"TLS: ", "does it ask for a client certificate? see mqtt.cert_file"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ExportSession, TheLineProtocolReadsBackByItsGrammar) {
    Broker broker;
    ASSERT_TRUE(broker.start());
    Subscriber subscriber(broker.port(), "veldra/#");
    ASSERT_TRUE(subscriber.subscribe());
    ExportRig rig(dir_.path(), {kGood}, {kGood, kSilent});
    ExportSettings settings = rig.settings(broker.port());
    settings.format = veldra::options::PayloadFormat::Influx;
    settings.site = "north field,a=b";  // escaped as a tag, kept whole in the topic
    rig.make_export(settings);
    ASSERT_TRUE(rig.start());
    rig.cycle();
    ASSERT_TRUE(subscriber.wait_until([](const std::vector<Received>& all) {
        return std::count_if(all.begin(), all.end(), [](auto& r) { return !is_status(r); }) >= 4;
    }));
    rig.stop();

    const auto records = rig.recorder().records();
    std::map<std::string, int> per_topic;
    for (const Received& r : subscriber.received()) {
        if (is_status(r)) {
            continue;
        }
        const Line line = parse_line_protocol(r.payload);
        ASSERT_EQ(line.error, "") << r.payload;
        const int n = per_topic[r.topic]++;
        EXPECT_EQ(line.measurement, "veldra");
        EXPECT_EQ(line.tags.at("site"), "north field,a=b");
        EXPECT_EQ(line.fields.at("seq").integer, n + 1);
        EXPECT_EQ(line.timestamp, std::chrono::duration_cast<std::chrono::nanoseconds>(
                                      records[static_cast<std::size_t>(n)].utc.time_since_epoch())
                                      .count());
        if (r.topic == "veldra/north field,a=b/0a1b2c") {
            EXPECT_EQ(line.tags.at("sensor"), "0a1b2c");
            EXPECT_EQ(line.fields.at("counts").type, FieldValue::Type::Integer);
            EXPECT_EQ(line.fields.at("temperature").type, FieldValue::Type::Float);
            EXPECT_EQ(line.fields.count("temperature_status"), 0u);
        } else {
            EXPECT_EQ(r.topic, "veldra/north field,a=b/0bad00");
            EXPECT_EQ(line.fields.count("temperature"), 0u);
            EXPECT_EQ(line.fields.at("temperature_status").text, "no_reply");
        }
    }
    EXPECT_EQ(per_topic.size(), 2u);
}

// Notices posted straight to the export, as the session would hand them on.
class NoticeLog final : public veldra::core::NoticeSink {
  public:
    void post_notice(const veldra::core::Notice& n) override {
        const std::lock_guard lock(mutex_);
        texts_.push_back(n.text);
    }
    std::vector<std::string> with(const std::string& part) const {
        const std::lock_guard lock(mutex_);
        std::vector<std::string> out;
        for (const std::string& t : texts_) {
            if (t.find(part) != std::string::npos) {
                out.push_back(t);
            }
        }
        return out;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> texts_;
};

veldra::core::CycleRecord synthetic_cycle(int sensors) {
    veldra::core::CycleRecord r;
    r.local = {2026, 12, 10, 11, 22, 12};
    r.utc = std::chrono::system_clock::now();
    for (int i = 0; i < sensors; ++i) {
        auto& s = r.sensors.emplace_back();
        s.address = 0x200 + i;
        for (auto& q : s.queries) {
            q.status = veldra::core::QueryStatus::Received;
            q.value = 20.0 + i;
        }
    }
    return r;
}

TEST_F(ExportSession, AFullOutboxStopsTheExportAloudAndTheGapIsNamedWhenItResumes) {
    // The subscriber's session is kept by the broker while it is away, so that nothing the
    // export sends once the broker is back can come before the subscription.
    Broker broker;
    ASSERT_TRUE(broker.start());
    Subscriber subscriber(broker.port(), "veldra/#");
    ASSERT_TRUE(subscriber.subscribe());
    broker.stop();
    ExportSettings settings;
    settings.port = broker.port();
    settings.outbox = (dir_.path() / "outbox.db").string();
    settings.outbox_limit_bytes = 48 * 1024;
    NoticeLog notices;
    BrokerExport exporter(settings, notices, fast_tuning());
    exporter.session_started({});
    int cycles = 0;
    while (notices.with("Export stopped: the outbox").empty() && cycles < 5000) {
        exporter.cycle_finished(synthetic_cycle(4));
        ++cycles;
    }
    ASSERT_EQ(notices.with("80 % full").size(), 1u);
    ASSERT_EQ(notices.with("Export stopped: the outbox").size(), 1u);
    const std::vector<std::string> full = notices.with("Export stopped: the outbox");
    EXPECT_NE(full[0].find("Export stopped: the outbox " + settings.outbox +
                           " is full (48 kB of "
                           "48 kB, "),
              std::string::npos)
        << full[0];
    EXPECT_NE(full[0].find("on, cycles go to the log files only"), std::string::npos) << full[0];
    const int stored = cycles - 1;
    exporter.cycle_finished(synthetic_cycle(4));  // also kept from the broker, not said again
    EXPECT_EQ(notices.with("Export stopped: the outbox").size(), 1u);

    ASSERT_TRUE(notices.with("waiting messages delivered").empty());
    ASSERT_TRUE(broker.start());
    // The waiting messages go out (the publisher retries within a fraction of a second).
    const std::string topic = "veldra/field-1/000200";
    ASSERT_TRUE(subscriber.wait_until(
        [&](const std::vector<Received>& all) { return has_all(seqs_of(all, topic), stored); },
        30s));
    exporter.cycle_finished(synthetic_cycle(4));
    const std::vector<std::string> resumed = notices.with("Export resumed");
    ASSERT_EQ(resumed.size(), 1u);
    EXPECT_NE(
        resumed[0].find("the 2 cycles from 2026-12-10 11:22:12 (seq " + std::to_string(stored + 1) +
                        " on) were not exported and are in the log files only"),
        std::string::npos)
        << resumed[0];
    ASSERT_TRUE(subscriber.wait_until([&](const std::vector<Received>& all) {
        const auto seqs = seqs_of(all, topic);
        return std::find(seqs.begin(), seqs.end(), stored + 3) != seqs.end();
    }));
    exporter.session_ended({});
    // The receivers see the gap: the two cycles' numbers never came.
    const std::vector<std::int64_t> seqs = seqs_of(subscriber.received(), topic);
    EXPECT_EQ(std::count(seqs.begin(), seqs.end(), stored + 1), 0);
    EXPECT_EQ(std::count(seqs.begin(), seqs.end(), stored + 2), 0);
}

}  // namespace
