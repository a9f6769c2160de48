// The library's set-up, client handles and the wake-up descriptor.
#include "mqtt_client.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <mutex>

namespace veldra::exporter::mqtt {

void ensure_library() {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

Client make_client(const std::string& id, void* user_data) {
    ensure_library();
    return Client(mosquitto_new(id.c_str(), true, user_data));
}

Wakeup::Wakeup() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

Wakeup::~Wakeup() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void Wakeup::signal() {
    const std::uint64_t one = 1;
    (void)!::write(fd_, &one, sizeof one);
}

void Wakeup::clear() {
    std::uint64_t count = 0;
    (void)!::read(fd_, &count, sizeof count);
}

}  // namespace veldra::exporter::mqtt
