// The network thread: one connection at a time, driven by our own poll() on the client's
// socket and an eventfd, so that new messages and a stop wake it at once and an idle link
// costs nothing between the broker's keep-alive pings. Each connection gets a fresh client
// with a clean session; what was in flight when a connection broke is simply sent again from
// the outbox on the next one, in the same order.
#include "export/publisher.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <optional>
#include <random>
#include <set>

#include "export/outbox.h"
#include "export/payload.h"
#include "mqtt_client.h"
#include "texts.h"

namespace veldra::exporter {
namespace {

using Steady = std::chrono::steady_clock;
using Wall = std::chrono::system_clock;
using std::chrono::milliseconds;

constexpr std::string_view kOnline = "online";
constexpr std::string_view kOffline = "offline";
constexpr milliseconds kMiscEvery{1000};  // keep-alive bookkeeping, as the library asks
constexpr milliseconds kRemoveEvery{
    250};  // acknowledged messages leave the outbox at least so often

// Why there is no connection; a notice is posted when this or its words change.
enum class Trouble { None, Unreachable, Lost, NoAnswer, Login, Tls, Settings };

// The library logs OpenSSL's reason ("OpenSSL Error[0]: error:0A000086:SSL
// routines::certificate verify failed") but returns only "a TLS error occurred".
std::string library_reason(std::string line) {
    if (const auto colons = line.rfind("::"); colons != std::string::npos) {
        return line.substr(colons + 2);
    }
    for (const std::string_view prefix : {"Error: ", "Warning: "}) {
        if (line.starts_with(prefix)) {
            line.erase(0, prefix.size());
        }
    }
    return line;
}

std::string hostname() {
    std::string name(256, '\0');
    if (::gethostname(name.data(), name.size()) != 0) {
        return "host";
    }
    name.resize(std::strlen(name.c_str()));
    return name;
}

// Empty when the file can be read, else why not, naming the setting.
std::string unreadable(const char* key, const std::string& path) {
    if (path.empty() || ::access(path.c_str(), R_OK) == 0) {
        return {};
    }
    return std::string(key) + " " + path + " cannot be read: " + std::strerror(errno);
}

}  // namespace

struct Publisher::Loop {
    Loop(const ExportSettings& settings, const Tuning& tuning, core::NoticeSink& notices,
         std::atomic<std::uint64_t>& acknowledged, std::atomic<bool>& connected_flag)
        : s(settings),
          t(tuning),
          notices(notices),
          acknowledged(acknowledged),
          connected_flag(connected_flag),
          delay(tuning.first_retry),
          random(static_cast<unsigned>(::getpid())) {}

    void run();

    const ExportSettings& s;
    const Tuning& t;
    core::NoticeSink& notices;
    std::atomic<std::uint64_t>& acknowledged;
    std::atomic<bool>& connected_flag;
    std::atomic<bool> stopping{false};
    mqtt::Wakeup wakeup;

  private:
    struct InFlight {
        int mid = 0;
        std::int64_t id = 0;
        Acknowledged cycle;
        bool acked = false;
    };

    // The connection.
    void connect();
    // One round of poll() and the library's reading and writing; `publish`: send more.
    void turn(Steady::time_point until, bool publish);
    void idle(Steady::time_point until);
    void connected_now();
    void publish_more();
    // Takes what the broker acknowledged out of the outbox; `now`: whatever the batch.
    void settle(bool now = false);
    void fail(Trouble kind, std::string reason);
    void fail_with(int rc, int error);
    void farewell();

    // What the notices say.
    void post(core::NoticeKind kind, std::string text);
    std::string trouble_text() const;
    void maybe_progress();

    // Library callbacks; they only note what happened, the loop acts on it.
    static void on_connect(mosquitto*, void* self, int rc);
    static void on_publish(mosquitto*, void* self, int mid);
    static void on_log(mosquitto*, void* self, int level, const char* line);

    std::optional<Outbox> outbox;
    mqtt::Client client;
    const std::string client_id =
        "veldra-" + s.site + "-" + hostname() + "-" + std::to_string(::getpid());
    bool connected = false;
    bool ever_connected = false;
    bool just_connected = false;
    int refused = 0;           // the broker's refusal of a login (CONNACK code)
    std::string library_said;  // the library's last error line
    Steady::time_point answer_deadline{};
    Steady::time_point retry_at{};
    Steady::time_point next_misc{};
    milliseconds delay;
    std::minstd_rand random;

    std::deque<InFlight> in_flight;   // in the order sent
    std::deque<OutboxEntry> pending;  // fetched, not yet sent
    std::int64_t last_sent = 0;       // id of the last message sent on this connection
    std::int64_t acked_through = 0;   // every id up to this one is acknowledged
    std::int64_t removed_through = 0;
    Steady::time_point last_removal{};
    std::optional<Acknowledged> last_acked;

    Trouble trouble = Trouble::None;
    std::string why;
    std::optional<Wall::time_point> trouble_since;
    std::set<std::string> said;  // the failures told since trouble_since
    std::uint64_t backlog = 0;   // waiting when the connection came; told when delivered
    Steady::time_point last_progress{};
    std::uint64_t last_told_waiting = 0;
    bool remove_failure_told = false;
};

Publisher::Publisher(ExportSettings settings, Tuning tuning, core::NoticeSink& notices)
    : settings_(std::move(settings)), tuning_(tuning), notices_(notices) {}

Publisher::~Publisher() {
    stop();
}

void Publisher::start() {
    if (thread_.joinable()) {
        return;
    }
    // Set up on the starting thread: the library's set-up is no affair of its network thread.
    mqtt::ensure_library();
    loop_ = std::make_unique<Loop>(settings_, tuning_, notices_, acknowledged_, connected_);
    thread_ = std::thread([this] { loop_->run(); });
}

void Publisher::wake() {
    if (loop_) {
        loop_->wakeup.signal();
    }
}

void Publisher::stop() {
    if (!thread_.joinable()) {
        return;
    }
    loop_->stopping = true;
    loop_->wakeup.signal();
    thread_.join();
    loop_.reset();
}

void Publisher::Loop::run() {
    outbox.emplace(s.outbox, Outbox::Role::Drainer);
    if (!outbox->ok()) {
        post(core::NoticeKind::ExportWarning, "Export stopped: " + outbox->error());
        while (!stopping) {
            idle(Steady::now() + std::chrono::hours(1));
        }
        return;
    }
    last_acked = outbox->last_acknowledged();
    last_told_waiting = outbox->waiting();
    post(core::NoticeKind::ExportState, "Export: connecting to " + texts::broker(s) + " as site " +
                                            s.site + "; " + texts::waiting(last_told_waiting) +
                                            "; " + texts::acknowledged(last_acked));
    last_progress = Steady::now();
    while (!stopping) {
        if (!client) {
            if (Steady::now() < retry_at) {
                idle(retry_at);
                maybe_progress();
            } else {
                connect();
            }
            continue;
        }
        turn(Steady::now() + kMiscEvery, true);
        maybe_progress();
    }
    farewell();
}

void Publisher::Loop::connect() {
    refused = 0;
    library_said.clear();
    for (const auto& [key, path] :
         {std::pair{"mqtt.ca_file", &s.ca_file}, std::pair{"mqtt.cert_file", &s.cert_file},
          std::pair{"mqtt.key_file", &s.key_file}}) {
        if (std::string problem = unreadable(key, *path); !problem.empty()) {
            fail(Trouble::Settings, problem);
            return;
        }
    }
    client = mqtt::make_client(client_id, this);
    if (!client) {
        fail(Trouble::Settings, "the MQTT client cannot be created");
        return;
    }
    mosquitto* m = client.get();
    mosquitto_connect_callback_set(m, &Loop::on_connect);
    mosquitto_publish_callback_set(m, &Loop::on_publish);
    mosquitto_log_callback_set(m, &Loop::on_log);
    mosquitto_int_option(m, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    // A cycle's few small messages go out at once, not after the broker's delayed ACK.
    mosquitto_int_option(m, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_max_inflight_messages_set(m, static_cast<unsigned>(t.in_flight));
    const std::string status = status_topic(s.topic_prefix, s.site);
    mosquitto_will_set(m, status.c_str(), static_cast<int>(kOffline.size()), kOffline.data(), 1,
                       true);
    if (!s.username.empty()) {
        mosquitto_username_pw_set(m, s.username.c_str(),
                                  s.password.empty() ? nullptr : s.password.c_str());
    }
    if (!s.ca_file.empty() || !s.cert_file.empty()) {
        // An encrypted key would make the library ask for its pass phrase on the terminal;
        // answering with none makes it a plain failure instead.
        const auto no_pass_phrase = [](char*, int, int, void*) { return 0; };
        const int rc =
            mosquitto_tls_set(m, s.ca_file.empty() ? nullptr : s.ca_file.c_str(),
                              s.ca_file.empty() ? "/etc/ssl/certs" : nullptr,
                              s.cert_file.empty() ? nullptr : s.cert_file.c_str(),
                              s.key_file.empty() ? nullptr : s.key_file.c_str(), no_pass_phrase);
        if (rc != MOSQ_ERR_SUCCESS) {
            fail(Trouble::Settings,
                 std::string("the TLS files cannot be used: ") + mosquitto_strerror(rc));
            return;
        }
    }
    const int rc = mosquitto_connect_async(m, s.host.c_str(), s.port, t.keepalive_seconds);
    const int error = errno;
    if (rc != MOSQ_ERR_SUCCESS) {
        fail_with(rc, error);
        return;
    }
    answer_deadline = Steady::now() + t.answer_timeout;
    next_misc = Steady::now() + kMiscEvery;
}

void Publisher::Loop::turn(Steady::time_point until, bool publish) {
    mosquitto* m = client.get();
    const int socket = mosquitto_socket(m);
    if (socket < 0) {
        fail(Trouble::Lost, "the connection closed");
        return;
    }
    const Steady::time_point now = Steady::now();
    if (!connected) {
        until = std::min(until, answer_deadline);
    }
    until = std::min(until, next_misc);
    std::array<pollfd, 2> fds{
        pollfd{socket, static_cast<short>(POLLIN | (mosquitto_want_write(m) ? POLLOUT : 0)), 0},
        pollfd{wakeup.fd(), POLLIN, 0}};
    const auto wait = std::chrono::duration_cast<milliseconds>(until - now).count();
    const int ready = ::poll(fds.data(), fds.size(), static_cast<int>(std::max<long>(0, wait)));
    if (ready > 0 && (fds[1].revents & POLLIN) != 0) {
        wakeup.clear();
    }
    if (ready > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
        const int rc = mosquitto_loop_read(m, 1);
        const int error = errno;
        if (rc != MOSQ_ERR_SUCCESS) {
            fail_with(rc, error);
            return;
        }
        // Acknowledge what came at once: a broker that holds small packets back until its
        // last one is acknowledged (Nagle's rule, mosquitto's default) would otherwise wait
        // for our delayed ACK with the rest of a cycle's PUBACKs. Linux forgets this after a
        // while, so it is said after every read.
        const int one = 1;
        ::setsockopt(socket, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
    }
    if (ready > 0 && (fds[0].revents & POLLOUT) != 0) {
        const int rc = mosquitto_loop_write(m, 1);
        const int error = errno;
        if (rc != MOSQ_ERR_SUCCESS) {
            fail_with(rc, error);
            return;
        }
    }
    if (Steady::now() >= next_misc) {
        next_misc = Steady::now() + kMiscEvery;
        if (const int rc = mosquitto_loop_misc(m); rc != MOSQ_ERR_SUCCESS) {
            fail_with(rc, 0);
            return;
        }
    }
    if (just_connected) {
        just_connected = false;
        connected_now();
    }
    if (!connected) {
        if (Steady::now() >= answer_deadline) {
            fail(Trouble::NoAnswer,
                 "no answer within " + std::to_string(t.answer_timeout.count() / 1000) + " s");
        }
        return;
    }
    settle();
    if (publish) {
        publish_more();
    }
}

void Publisher::Loop::idle(Steady::time_point until) {
    pollfd fd{wakeup.fd(), POLLIN, 0};
    const auto wait = std::chrono::duration_cast<milliseconds>(until - Steady::now()).count();
    if (::poll(&fd, 1, static_cast<int>(std::clamp<long>(wait, 0, 3'600'000))) > 0) {
        wakeup.clear();
    }
}

void Publisher::Loop::connected_now() {
    connected = true;
    ever_connected = true;
    connected_flag = true;
    delay = t.first_retry;
    const std::string status = status_topic(s.topic_prefix, s.site);
    mosquitto_publish(client.get(), nullptr, status.c_str(), static_cast<int>(kOnline.size()),
                      kOnline.data(), 1, true);
    trouble = Trouble::None;
    why.clear();
    trouble_since.reset();
    backlog = outbox->waiting();
    last_told_waiting = backlog;
    last_progress = Steady::now();
    post(core::NoticeKind::ExportState, "Export: connected to " + texts::broker(s) + " as site " +
                                            s.site + "; " +
                                            (backlog == 0 ? std::string("publishing every cycle")
                                                          : "sending " + texts::waiting(backlog)) +
                                            "; " + texts::acknowledged(last_acked));
}

void Publisher::Loop::publish_more() {
    while (client && in_flight.size() < t.in_flight) {
        if (pending.empty()) {
            std::vector<OutboxEntry> more = outbox->fetch_after(last_sent, t.in_flight);
            if (more.empty()) {
                break;
            }
            pending.assign(std::make_move_iterator(more.begin()),
                           std::make_move_iterator(more.end()));
        }
        const OutboxEntry& e = pending.front();
        const std::string topic = sensor_topic(s.topic_prefix, e.site, e.sensor);
        const std::string body = payload(s.format, e);
        int mid = 0;
        const int rc = mosquitto_publish(client.get(), &mid, topic.c_str(),
                                         static_cast<int>(body.size()), body.data(), 1, false);
        const int error = errno;
        if (rc != MOSQ_ERR_SUCCESS) {
            fail_with(rc, error);
            return;
        }
        in_flight.push_back({mid, e.id, {e.site, e.seq, e.local}, false});
        last_sent = e.id;
        pending.pop_front();
    }
    // The loop ended with nothing in flight and nothing more to fetch: all delivered.
    if (client && backlog > 0 && in_flight.empty() && pending.empty()) {
        const std::uint64_t delivered = backlog;
        backlog = 0;
        last_told_waiting = 0;
        post(core::NoticeKind::ExportState,
             "Export: connected to " + texts::broker(s) + " as site " + s.site + "; the " +
                 std::to_string(delivered) + " waiting message" + (delivered == 1 ? "" : "s") +
                 " delivered, publishing every cycle; " + texts::acknowledged(last_acked));
    }
}

void Publisher::Loop::settle(bool now) {
    while (!in_flight.empty() && in_flight.front().acked) {
        acked_through = in_flight.front().id;
        last_acked = std::move(in_flight.front().cycle);
        in_flight.pop_front();
        acknowledged.fetch_add(1);
    }
    // One delete per batch while a backlog drains: a transaction per acknowledgement would
    // cost more than sending the message.
    const bool due =
        now || in_flight.empty() ||
        acked_through - removed_through >= static_cast<std::int64_t>(t.in_flight / 2) ||
        Steady::now() - last_removal >= kRemoveEvery;
    if (acked_through <= removed_through || !due) {
        return;
    }
    last_removal = Steady::now();
    if (outbox->remove_through(acked_through, *last_acked)) {
        removed_through = acked_through;
        remove_failure_told = false;
    } else if (!remove_failure_told) {
        // They are not sent again in this run; after a restart they would be, twice.
        remove_failure_told = true;
        post(core::NoticeKind::ExportWarning,
             "Export: delivered messages cannot be taken out of the outbox " + s.outbox + " (" +
                 outbox->last_error() + "); they may be sent again after a restart");
    }
}

void Publisher::Loop::fail(Trouble kind, std::string reason) {
    const bool was_connected = connected;
    if (client && connected) {
        settle(true);
    }
    client.reset();
    connected = false;
    connected_flag = false;
    just_connected = false;
    in_flight.clear();
    pending.clear();
    last_sent = acked_through;
    // Doubling pauses, each drawn from 80 to 120 % so that a fleet does not come back at the
    // same instant after a broker restart.
    const double jitter = std::uniform_real_distribution<double>(0.8, 1.2)(random);
    retry_at = Steady::now() + std::chrono::duration_cast<milliseconds>(delay * jitter);
    delay = std::min(delay * 2, t.longest_retry);
    if (!trouble_since || was_connected) {
        trouble_since = Wall::now();
        said.clear();
    }
    // Each failure is said once while it lasts, even when attempts alternate between reasons.
    const std::string said_key = std::to_string(static_cast<int>(kind)) + " " + reason;
    if (!was_connected && !said.insert(said_key).second) {
        return;
    }
    trouble = kind;
    why = std::move(reason);
    const bool warning =
        kind == Trouble::Login || kind == Trouble::Tls || kind == Trouble::Settings;
    last_told_waiting = outbox->waiting();
    last_progress = Steady::now();
    post(warning ? core::NoticeKind::ExportWarning : core::NoticeKind::ExportState, trouble_text());
}

void Publisher::Loop::fail_with(int rc, int error) {
    if (refused != 0) {
        std::string answer = mosquitto_connack_string(refused);
        if (!answer.empty() && answer.back() == '.') {
            answer.pop_back();
        }
        fail(Trouble::Login, "the broker refused the login: " + answer +
                                 " (check mqtt.username and mqtt.password)");
        return;
    }
    const bool tls = !s.ca_file.empty() || !s.cert_file.empty();
    if (tls && !connected &&
        (rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_PROTOCOL)) {
        // A broker that wants a client certificate (or does not take ours) may complete the
        // handshake and only then hang up, before any answer.
        std::string reason = library_said.empty()
                                 ? "the broker ended the TLS connection before answering"
                                 : "TLS: " + library_reason(library_said);
        reason +=
            s.cert_file.empty()
                ? " (does it ask for a client certificate? see mqtt.cert_file and "
                  "mqtt.key_file)"
                : " (does it take the client certificate in mqtt.cert_file " + s.cert_file + "?)";
        fail(Trouble::Tls, reason);
        return;
    }
    switch (rc) {
        case MOSQ_ERR_TLS: {
            std::string reason = library_said.empty() ? "the TLS handshake failed"
                                                      : "TLS: " + library_reason(library_said);
            if (reason.find("certificate verify failed") != std::string::npos) {
                reason += " (the broker's certificate is not signed by the CA in mqtt.ca_file " +
                          s.ca_file + ", or not made out to " + s.host + ")";
            }
            fail(Trouble::Tls, reason);
            return;
        }
        case MOSQ_ERR_ERRNO:
            fail(connected ? Trouble::Lost : Trouble::Unreachable,
                 error != 0 ? std::strerror(error) : "the connection failed");
            return;
        case MOSQ_ERR_EAI:
            fail(Trouble::Unreachable, "the host name " + s.host + " is not known");
            return;
        case MOSQ_ERR_CONN_LOST:
        case MOSQ_ERR_NO_CONN:
            fail(connected ? Trouble::Lost : Trouble::Unreachable,
                 connected ? "the connection broke" : "the broker closed the connection");
            return;
        case MOSQ_ERR_KEEPALIVE:
            fail(Trouble::Lost, "the broker stopped answering");
            return;
        default:
            fail(connected ? Trouble::Lost : Trouble::Unreachable, mosquitto_strerror(rc));
            return;
    }
}

void Publisher::Loop::farewell() {
    if (client && connected) {
        // Let what is in flight be acknowledged, so that little goes out twice.
        const Steady::time_point until = Steady::now() + t.farewell;
        while (client && !in_flight.empty() && Steady::now() < until) {
            turn(until, false);
        }
        if (client) {
            settle(true);
            const std::string status = status_topic(s.topic_prefix, s.site);
            mosquitto_publish(client.get(), nullptr, status.c_str(),
                              static_cast<int>(kOffline.size()), kOffline.data(), 1, true);
            mosquitto_disconnect(client.get());
            // The farewell leaves with whatever the socket still has to send.
            const Steady::time_point flushed = Steady::now() + t.farewell;
            while (mosquitto_want_write(client.get()) && Steady::now() < flushed) {
                pollfd fd{mosquitto_socket(client.get()), POLLOUT, 0};
                if (fd.fd < 0 || ::poll(&fd, 1, 50) < 0 ||
                    mosquitto_loop_write(client.get(), 1) != MOSQ_ERR_SUCCESS) {
                    break;
                }
            }
        }
    }
    client.reset();
    connected = false;
    connected_flag = false;
    const std::uint64_t left = outbox->waiting();
    post(core::NoticeKind::ExportState,
         "Export: stopped with the session; " +
             (left == 0 ? std::string("every message delivered")
                        : texts::waiting(left) + " in the outbox for the next start") +
             "; " + texts::acknowledged(last_acked));
}

void Publisher::Loop::post(core::NoticeKind kind, std::string text) {
    notices.post_notice({kind, std::move(text), Wall::now()});
}

std::string Publisher::Loop::trouble_text() const {
    return std::string("Export: ") + (ever_connected ? "reconnecting to " : "connecting to ") +
           texts::broker(s) + " since " + texts::clock_time(*trouble_since) + ": " + why + "; " +
           texts::waiting(last_told_waiting) + "; " + texts::acknowledged(last_acked);
}

void Publisher::Loop::maybe_progress() {
    const Steady::time_point now = Steady::now();
    if (now - last_progress < t.progress_every) {
        return;
    }
    last_progress = now;
    if (connected && backlog == 0) {
        return;  // every cycle goes out as it comes: nothing to tell
    }
    const std::uint64_t waiting = outbox->waiting();
    if (waiting == last_told_waiting) {
        return;
    }
    last_told_waiting = waiting;
    if (connected) {
        post(core::NoticeKind::ExportState,
             "Export: connected to " + texts::broker(s) + " as site " + s.site +
                 "; sending the waiting messages, " + texts::waiting(waiting) + "; " +
                 texts::acknowledged(last_acked));
    } else if (trouble_since) {
        post(trouble == Trouble::Login || trouble == Trouble::Tls || trouble == Trouble::Settings
                 ? core::NoticeKind::ExportWarning
                 : core::NoticeKind::ExportState,
             trouble_text());
    }
}

void Publisher::Loop::on_connect(mosquitto*, void* self, int rc) {
    auto* loop = static_cast<Loop*>(self);
    if (rc == 0) {
        loop->just_connected = true;
    } else {
        loop->refused = rc;
    }
}

void Publisher::Loop::on_publish(mosquitto*, void* self, int mid) {
    auto* loop = static_cast<Loop*>(self);
    for (InFlight& f : loop->in_flight) {
        if (f.mid == mid) {
            f.acked = true;
            return;
        }
    }
}

void Publisher::Loop::on_log(mosquitto*, void* self, int level, const char* line) {
    if ((level & (MOSQ_LOG_ERR | MOSQ_LOG_WARNING)) != 0 && line != nullptr) {
        static_cast<Loop*>(self)->library_said = line;
    }
}

}  // namespace veldra::exporter
