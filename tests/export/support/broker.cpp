// The test broker, its certificates and the subscriber.
#include "broker.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

namespace export_test {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr const char* kBrokerProgram = "/usr/sbin/mosquitto";
constexpr const char* kPasswordProgram = "/usr/bin/mosquitto_passwd";

// Runs a program with its arguments; true when it ended with status 0.
bool run(const std::vector<std::string>& argv, const fs::path& output) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (fd >= 0) {
            ::dup2(fd, 1);
            ::dup2(fd, 2);
        }
        std::vector<char*> args;
        for (const std::string& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

bool accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

std::string user_name() {
    const passwd* pw = ::getpwuid(::geteuid());
    return pw != nullptr ? pw->pw_name : "root";
}

std::string slurp(const fs::path& path) {
    std::ifstream in(path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

TempDir::TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "veldra-export-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) {
        std::abort();
    }
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

int free_port() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
        port = ntohs(addr.sin_port);
    }
    ::close(fd);
    return port;
}

const Certificates& test_certificates() {
    static TempDir dir;
    static const Certificates certs = [] {
        const fs::path d = dir.path();
        const fs::path log = d / "openssl.log";
        const std::string ossl = "/usr/bin/openssl";
        // Elliptic-curve keys: made in milliseconds, where RSA keys take a good part of a
        // second each on a loaded machine.
        const auto ca = [&](const std::string& name) {
            return run(
                {ossl, "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                 "-nodes", "-days", "2", "-subj", "/CN=" + name, "-keyout",
                 (d / (name + ".key")).string(), "-out", (d / (name + ".pem")).string()},
                log);
        };
        const std::string ext = (d / "san.cnf").string();
        std::ofstream(ext) << "subjectAltName=IP:127.0.0.1\n";
        const bool made =
            ca("test-ca") && ca("other-ca") &&
            run({ossl, "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                 "-subj", "/CN=127.0.0.1", "-keyout", (d / "server.key").string(), "-out",
                 (d / "server.csr").string()},
                log) &&
            run({ossl, "x509", "-req", "-in", (d / "server.csr").string(), "-CA",
                 (d / "test-ca.pem").string(), "-CAkey", (d / "test-ca.key").string(),
                 "-CAcreateserial", "-days", "2", "-extfile", ext, "-out",
                 (d / "server.pem").string()},
                log) &&
            run({ossl, "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                 "-subj", "/CN=logger-field-1", "-keyout", (d / "client.key").string(), "-out",
                 (d / "client.csr").string()},
                log) &&
            run({ossl, "x509", "-req", "-in", (d / "client.csr").string(), "-CA",
                 (d / "test-ca.pem").string(), "-CAkey", (d / "test-ca.key").string(),
                 "-CAcreateserial", "-days", "2", "-out", (d / "client.pem").string()},
                log);
        if (!made) {
            std::cerr << "openssl failed:\n" << slurp(log);
        }
        return Certificates{d / "test-ca.pem", d / "server.pem", d / "server.key",
                            d / "client.pem",  d / "client.key", d / "other-ca.pem"};
    }();
    return certs;
}

Broker::Broker(BrokerConfig config)
    : config_(std::move(config)), port_(free_port()), tls_port_(config_.tls ? free_port() : 0) {}

Broker::~Broker() {
    stop();
}

bool Broker::start() {
    if (running()) {
        return true;
    }
    const fs::path d = dir_.path();
    std::ofstream conf(d / "mosquitto.conf");
    conf << "user " << user_name() << "\n"
         << "log_dest stderr\n"
         << "log_type error\nlog_type warning\nlog_type notice\n"
         << "max_queued_messages 0\n";
    if (config_.tcp_nodelay) {
        conf << "set_tcp_nodelay true\n";
    }
    if (config_.persistence) {
        conf << "persistence true\npersistence_location " << d.string() << "/\n";
    }
    if (config_.login) {
        const fs::path pw = d / "passwords";
        std::ofstream(pw).close();
        ::chmod(pw.c_str(), 0600);
        if (!run({kPasswordProgram, "-b", pw.string(), config_.login->username,
                  config_.login->password},
                 d / "broker.log")) {
            return false;
        }
        conf << "allow_anonymous false\npassword_file " << pw.string() << "\n";
    } else {
        conf << "allow_anonymous true\n";
    }
    conf << "listener " << port_ << " 127.0.0.1\n";
    if (config_.tls) {
        const Certificates& c = test_certificates();
        conf << "listener " << tls_port_ << " 127.0.0.1\n"
             << "cafile " << c.ca.string() << "\ncertfile " << c.server_cert.string()
             << "\nkeyfile " << c.server_key.string() << "\n";
        if (config_.client_certificates) {
            conf << "require_certificate true\n";
        }
    }
    conf.close();

    const std::string conf_path = (d / "mosquitto.conf").string();
    const std::string log_path = (d / "broker.log").string();
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // The broker must not outlive a test that dies.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) {
            ::_exit(1);
        }
        const int fd = ::open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (fd >= 0) {
            ::dup2(fd, 1);
            ::dup2(fd, 2);
        }
        ::execl(kBrokerProgram, kBrokerProgram, "-c", conf_path.c_str(), nullptr);
        ::_exit(127);
    }
    if (pid < 0) {
        return false;
    }
    pid_ = pid;
    for (int i = 0; i < 500; ++i) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            std::cerr << "the broker ended at once:\n" << log();
            return false;
        }
        if (accepts(port_) && (tls_port_ == 0 || accepts(tls_port_))) {
            return true;
        }
        std::this_thread::sleep_for(20ms);
    }
    std::cerr << "the broker does not take connections:\n" << log();
    stop();
    return false;
}

void Broker::stop() {
    if (pid_ <= 0) {
        return;
    }
    ::kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 500; ++i) {
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(10ms);
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
}

std::string Broker::log() const {
    return slurp(dir_.path() / "broker.log");
}

Subscriber::Subscriber(int port, std::string filter, std::optional<Login> login)
    : port_(port), filter_(std::move(filter)) {
    static std::atomic<int> counter{0};
    mosquitto_lib_init();
    const std::string id =
        "test-subscriber-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
    client_ = mosquitto_new(id.c_str(), false, this);
    mosquitto_message_callback_set(client_, &Subscriber::on_message);
    mosquitto_subscribe_callback_set(client_, &Subscriber::on_subscribe);
    // Every connection, the first and each after a broker restart, asks for the subscription.
    mosquitto_connect_callback_set(client_, [](mosquitto* m, void* self, int rc) {
        if (rc == 0) {
            mosquitto_subscribe(m, nullptr, static_cast<Subscriber*>(self)->filter_.c_str(), 1);
        }
    });
    mosquitto_reconnect_delay_set(client_, 1, 1, false);
    mosquitto_max_inflight_messages_set(client_, 0);
    if (login) {
        mosquitto_username_pw_set(client_, login->username.c_str(), login->password.c_str());
    }
}

Subscriber::~Subscriber() {
    mosquitto_disconnect(client_);
    mosquitto_loop_stop(client_, false);
    mosquitto_destroy(client_);
}

bool Subscriber::subscribe() {
    if (mosquitto_connect(client_, "127.0.0.1", port_, 30) != MOSQ_ERR_SUCCESS ||
        mosquitto_loop_start(client_) != MOSQ_ERR_SUCCESS) {
        return false;
    }
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 10s, [this] { return subscribed_; });
}

std::vector<Received> Subscriber::received() const {
    const std::lock_guard lock(mutex_);
    return received_;
}

bool Subscriber::wait_until(const std::function<bool(const std::vector<Received>&)>& done,
                            std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return done(received_); });
}

void Subscriber::on_message(mosquitto*, void* self, const mosquitto_message* m) {
    auto* s = static_cast<Subscriber*>(self);
    {
        const std::lock_guard lock(s->mutex_);
        s->received_.push_back({m->topic,
                                std::string(static_cast<const char*>(m->payload),
                                            static_cast<std::size_t>(m->payloadlen)),
                                m->retain});
    }
    s->changed_.notify_all();
}

void Subscriber::on_subscribe(mosquitto*, void* self, int, int, const int*) {
    auto* s = static_cast<Subscriber*>(self);
    {
        const std::lock_guard lock(s->mutex_);
        s->subscribed_ = true;
    }
    s->changed_.notify_all();
}

}  // namespace export_test
