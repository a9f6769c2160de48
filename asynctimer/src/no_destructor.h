// Storage for process-wide state that must outlive every static destructor: engine threads and
// late callers may still reach it while the process exits.
#pragma once

#include <memory>
#include <new>
#include <utility>

namespace veldra::asynctimer {

template <typename T>
class NoDestructor {
  public:
    template <typename... Args>
    explicit NoDestructor(Args&&... args) {
        std::construct_at(reinterpret_cast<T*>(storage_), std::forward<Args>(args)...);
    }
    NoDestructor(const NoDestructor&) = delete;
    NoDestructor& operator=(const NoDestructor&) = delete;

    T& operator*() { return *std::launder(reinterpret_cast<T*>(storage_)); }
    T* operator->() { return &**this; }

  private:
    alignas(T) unsigned char storage_[sizeof(T)];
};

}  // namespace veldra::asynctimer
