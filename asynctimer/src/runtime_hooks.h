// The run-time's hooks around asynchronous callbacks and its resource tracking. Linux has no
// such run-time services, so each hook is a no-op kept to mark where a port would attach them.
#pragma once

namespace veldra::asynctimer {

// Per-timer state a run-time may keep across one callback.
struct AsyncCallbackContext {};

inline void EnterAsyncCallback(AsyncCallbackContext& /*context*/) {}
inline void ExitAsyncCallback(AsyncCallbackContext& /*context*/) {}

inline void ResourceAcquire(const void* /*resource*/, int /*id*/, double /*interval*/) {}
inline void ResourceRelease(const void* /*resource*/) {}

}  // namespace veldra::asynctimer
