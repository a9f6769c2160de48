// The timer engine: a thread per timer sleeping on a condition variable until the next absolute
// deadline of its schedule (t0 + k * interval on the steady clock), so that an idle timer costs
// no CPU and late expiries never accumulate into drift.
#include "engine.h"

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "no_destructor.h"

namespace veldra::asynctimer {

using Clock = std::chrono::steady_clock;

class EngineTimer {
  public:
    explicit EngineTimer(std::function<void()> expiry) : expiry_(std::move(expiry)) {}

    void Run();
    bool Arm(Clock::duration interval);
    void SetPaused(bool paused);
    // Returns whether an expiry was running at the moment of the stop.
    bool Stop();
    bool Finished() const { return finished_.load(std::memory_order_acquire); }
    bool Stopped() {
        std::lock_guard lock(mutex);
        return stop_;
    }

    std::thread thread;
    std::mutex mutex;
    int priority = kEngineDefaultPriority;

  private:
    std::condition_variable wake_;
    std::function<void()> expiry_;  // touched only by the timer's own thread once it runs
    bool stop_ = false;
    bool armed_ = false;
    bool paused_ = false;
    bool in_expiry_ = false;
    Clock::duration interval_{};
    Clock::time_point deadline_{};
    std::uint64_t arm_generation_ = 0;
    std::atomic<bool> finished_{false};
};

namespace {

thread_local EngineTimer* t_current = nullptr;

// Every timer whose thread has not been joined yet; whoever removes a timer from here joins it.
struct Registry {
    std::mutex mutex;
    std::vector<EngineHandle> timers;
    std::atomic<bool> shutting_down{false};
};

Registry& TheRegistry() {
    static NoDestructor<Registry> registry;
    return *registry;
}

// Joins the threads of the stopped timers that `pick` chooses.
template <typename Pick>
void JoinStopped(Pick pick) {
    std::vector<EngineHandle> done;
    {
        Registry& registry = TheRegistry();
        std::lock_guard lock(registry.mutex);
        std::erase_if(registry.timers, [&done, &pick](const EngineHandle& timer) {
            if (!pick(*timer)) {
                return false;
            }
            done.push_back(timer);
            return true;
        });
    }
    for (const EngineHandle& timer : done) {
        timer->thread.join();
    }
}

// Timers stopped from an expiry whose threads have ended since.
void ReapFinished() {
    JoinStopped([](EngineTimer& timer) { return timer.Finished(); });
}

// Stops and joins every engine thread when the process exits, while the callbacks' own data
// (static objects constructed before the first timer) still exists.
void ShutdownEngine() {
    Registry& registry = TheRegistry();
    std::vector<EngineHandle> timers;
    {
        std::lock_guard lock(registry.mutex);
        registry.shutting_down.store(true);
        timers.swap(registry.timers);
    }
    for (const EngineHandle& timer : timers) {
        timer->Stop();
    }
    for (const EngineHandle& timer : timers) {
        if (timer.get() == t_current) {
            // exit() was called from this timer's own expiry: it cannot wait for itself.
            timer->thread.detach();
            std::lock_guard lock(registry.mutex);
            registry.timers.push_back(timer);
        } else {
            timer->thread.join();
        }
    }
}

struct ExitGuard {
    ExitGuard() = default;
    ExitGuard(const ExitGuard&) = delete;
    ExitGuard& operator=(const ExitGuard&) = delete;
    ~ExitGuard() { ShutdownEngine(); }
};

Clock::duration ToDuration(EngineTime time) {
    return std::chrono::seconds(time.seconds) + std::chrono::nanoseconds(time.nanoseconds);
}

}  // namespace

void EngineTimer::Run() {
    t_current = this;
    std::unique_lock lock(mutex);
    while (!stop_) {
        if (!armed_ || paused_) {
            wake_.wait(lock);
            continue;
        }
        if (Clock::now() < deadline_) {
            wake_.wait_until(lock, deadline_);
            continue;
        }
        const Clock::time_point due = deadline_;
        const std::uint64_t generation = arm_generation_;
        in_expiry_ = true;
        lock.unlock();
        expiry_();
        lock.lock();
        in_expiry_ = false;
        if (generation != arm_generation_) {
            continue;  // re-armed during the expiry: the new period already started from then
        }
        deadline_ = due + interval_;
        const Clock::time_point now = Clock::now();
        if (deadline_ <= now) {
            // Overran: one late expiry follows at once, those missed besides it are dropped,
            // and the schedule stays on its grid.
            deadline_ += ((now - deadline_) / interval_) * interval_;
        }
    }
    std::function<void()> last = std::move(expiry_);
    expiry_ = nullptr;
    lock.unlock();
    last = nullptr;  // may release the timer's owner; done outside the lock
    t_current = nullptr;
    finished_.store(true, std::memory_order_release);
}

bool EngineTimer::Arm(Clock::duration interval) {
    if (interval <= Clock::duration::zero()) {
        return false;
    }
    std::lock_guard lock(mutex);
    if (stop_) {
        return false;
    }
    if (armed_ && interval == interval_) {
        // The measurement cycle sets its interval at every tick: restarting the period each
        // time would slide the whole schedule by the tick's latency and whatever ran first.
        return true;
    }
    interval_ = interval;
    deadline_ = Clock::now() + interval;
    armed_ = true;
    ++arm_generation_;
    wake_.notify_all();
    return true;
}

void EngineTimer::SetPaused(bool paused) {
    std::lock_guard lock(mutex);
    if (paused_ == paused) {
        return;
    }
    paused_ = paused;
    if (!paused && armed_) {
        const Clock::time_point now = Clock::now();
        if (deadline_ <= now) {
            deadline_ += ((now - deadline_) / interval_ + 1) * interval_;
        }
    }
    wake_.notify_all();
}

bool EngineTimer::Stop() {
    std::lock_guard lock(mutex);
    stop_ = true;
    wake_.notify_all();
    return in_expiry_;
}

bool EngineInitialize() {
    static ExitGuard guard;
    return !TheRegistry().shutting_down.load();
}

EngineTime EngineResolution() {
    // A sleeping thread wakes within tens of microseconds on an idle machine, but under load
    // the scheduler's latency approaches a millisecond: that is what can be honoured.
    return EngineTime{0, 1'000'000};
}

EngineTime EngineLocalTime() {
    const auto since_epoch = Clock::now().time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since_epoch);
    const auto nanoseconds =
        std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch - seconds);
    return EngineTime{static_cast<std::int32_t>(seconds.count()),
                      static_cast<std::int32_t>(nanoseconds.count())};
}

EngineHandle EngineNewTimer(std::function<void()> expiry) {
    ReapFinished();
    Registry& registry = TheRegistry();
    try {
        auto timer = std::make_shared<EngineTimer>(std::move(expiry));
        std::lock_guard lock(registry.mutex);
        if (registry.shutting_down.load()) {
            return nullptr;
        }
        timer->thread = std::thread([raw = timer.get()] { raw->Run(); });
        pthread_setname_np(timer->thread.native_handle(), "veldra-timer");
        registry.timers.push_back(timer);
        return timer;
    } catch (const std::bad_alloc&) {
        return nullptr;
    } catch (const std::system_error&) {
        return nullptr;
    }
}

void EngineSetPriority(const EngineHandle& timer, int priority) {
    std::lock_guard lock(timer->mutex);
    timer->priority = priority;
}

int EngineGetPriority(const EngineHandle& timer) {
    std::lock_guard lock(timer->mutex);
    return timer->priority;
}

bool EngineSetTimer(const EngineHandle& timer, EngineTime interval) {
    return timer && timer->Arm(ToDuration(interval));
}

void EngineSetPaused(const EngineHandle& timer, bool paused) {
    if (timer) {
        timer->SetPaused(paused);
    }
}

void EngineDiscardTimer(EngineHandle timer) {
    if (!timer) {
        return;
    }
    bool join = false;
    {
        // Stopping and taking the timer out happen together, so that no other thread can pick
        // it for joining in between and leave this caller returning before the expiry ends.
        Registry& registry = TheRegistry();
        std::lock_guard lock(registry.mutex);
        const bool busy = timer->Stop();
        const bool self = t_current == timer.get();
        // Waiting for another timer's running expiry from inside an expiry could wait forever
        // (two expiries discarding each other): such a thread ends by itself and is reaped
        // later.
        const bool defer = self || (t_current != nullptr && busy);
        join = !defer && std::erase(registry.timers, timer) > 0;
    }
    if (join) {
        timer->thread.join();
    }
    timer.reset();
    ReapFinished();
}

void EngineWaitForStoppedTimers() {
    if (t_current == nullptr) {
        JoinStopped([](EngineTimer& timer) { return timer.Stopped(); });
    }
}

}  // namespace veldra::asynctimer
