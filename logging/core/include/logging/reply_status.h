// What became of a query, from the bus's results: the receive's result alone cannot tell
// silence from a wrong first byte, or a late answer to an earlier request from either.
#pragma once

#include "bus/bus.h"
#include "logging/cycle_record.h"

namespace veldra::core {

// The status of a query whose command was sent, from the receive's result and what it saw.
// A reply (result 1 or more) is Received here; whether its text is a number is the
// conversion's business.
QueryStatus reception_status(int received, const ReceiveInfo& info);

}  // namespace veldra::core
