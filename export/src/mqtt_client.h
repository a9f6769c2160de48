// Owners for what libmosquitto hands out: the library's one-time set-up, a client handle, and
// the eventfd that wakes the network thread. Each client is used by one thread only.
#pragma once

#include <mosquitto.h>

#include <memory>
#include <string>

namespace veldra::exporter::mqtt {

// Sets the library up once per process; it is never torn down, as a client of another
// object may still be alive at exit.
void ensure_library();

struct Destroy {
    void operator()(mosquitto* m) const { mosquitto_destroy(m); }
};
using Client = std::unique_ptr<mosquitto, Destroy>;

// A new client with a clean session: what the broker has not acknowledged stays in our outbox,
// not in the library's or the broker's memory, so each connection starts from the outbox.
Client make_client(const std::string& id, void* user_data);

// An eventfd for waking a thread that waits in poll(); closed with this object.
class Wakeup {
  public:
    Wakeup();
    ~Wakeup();
    Wakeup(const Wakeup&) = delete;
    Wakeup& operator=(const Wakeup&) = delete;
    int fd() const { return fd_; }
    void signal();
    void clear();

  private:
    int fd_ = -1;
};

}  // namespace veldra::exporter::mqtt
