// A real broker for the export tests: the Debian package's mosquitto, started by the test on
// 127.0.0.1 at a free port with a configuration file in a temporary folder, and stopped on every
// path (its destructor; and the kernel kills it should the test process die first). Optional:
// a login, a TLS listener beside the plain one, and persistence, so that a subscriber's
// session and its queued messages survive a restart. A subscriber on libmosquitto.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct mosquitto;
struct mosquitto_message;

namespace export_test {

// A folder under the system's temporary directory, removed with everything in it.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// A port on 127.0.0.1 that nothing listens on right now.
int free_port();

struct Login {
    std::string username, password;
};

// A throwaway CA, a server certificate it signed for 127.0.0.1, a client certificate it signed,
// and a second CA that signed nothing: made with openssl once per test program.
struct Certificates {
    std::filesystem::path ca, server_cert, server_key, client_cert, client_key, other_ca;
};
const Certificates& test_certificates();

struct BrokerConfig {
    std::optional<Login> login;        // else anonymous clients are welcome
    bool tls = false;                  // a TLS listener (tls_port) beside the plain one
    bool client_certificates = false;  // the TLS listener lets in only certified clients
    bool persistence = true;
    bool tcp_nodelay = false;  // the broker's own sockets (mosquitto's default: off)
};

class Broker {
  public:
    explicit Broker(BrokerConfig config = {});
    ~Broker();  // stops it
    Broker(const Broker&) = delete;
    Broker& operator=(const Broker&) = delete;

    // Starts it (again, on the same ports) and waits until it takes connections. False, with
    // its log in the test's output, when it did not come up.
    bool start();
    // SIGTERM (the broker saves its persistent state), then waits for it to end.
    void stop();
    bool running() const { return pid_ > 0; }

    int port() const { return port_; }
    int tls_port() const { return tls_port_; }
    std::string log() const;

  private:
    TempDir dir_;
    BrokerConfig config_;
    int port_ = 0;
    int tls_port_ = 0;
    pid_t pid_ = -1;
};

struct Received {
    std::string topic, payload;
    bool retained = false;
};

// Subscribes to a topic filter at QoS 1 and keeps what arrives. A fixed client id with a
// persistent session, so that a broker with persistence queues what comes while it is away;
// reconnects by itself.
class Subscriber {
  public:
    Subscriber(int port, std::string filter, std::optional<Login> login = std::nullopt);
    ~Subscriber();
    Subscriber(const Subscriber&) = delete;
    Subscriber& operator=(const Subscriber&) = delete;

    // Connects and waits until the subscription is acknowledged.
    bool subscribe();
    std::vector<Received> received() const;
    // Waits until the messages received satisfy the condition.
    bool wait_until(const std::function<bool(const std::vector<Received>&)>& done,
                    std::chrono::milliseconds timeout = std::chrono::seconds(20));

  private:
    static void on_message(mosquitto*, void* self, const mosquitto_message* message);
    static void on_subscribe(mosquitto*, void* self, int mid, int count, const int* granted);

    int port_;
    std::string filter_;
    mosquitto* client_ = nullptr;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Received> received_;
    bool subscribed_ = false;
};

}  // namespace export_test
