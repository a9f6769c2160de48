// Classifies a reception by its result and by what the receive saw on the line.
#include "logging/reply_status.h"

namespace veldra::core {

QueryStatus reception_status(int received, const ReceiveInfo& info) {
    if (received > 0) {
        return QueryStatus::Received;
    }
    switch (received) {
        case 0:
            return QueryStatus::Empty;
        case BUS_ERR_START_BYTE:
            if (info.bytes_read == 0) {
                return QueryStatus::NoReply;
            }
            // Late answers to earlier requests were skipped, then nothing more came: either
            // the line fell silent waiting for the next frame's first byte, or the wait for the
            // answer ran out right after a skipped frame (the last address read is then that
            // frame's). A wrong first byte after them reads no address.
            if (info.stale_frames_skipped > 0 &&
                (info.line_error != 0 || info.reply_address != 0)) {
                return QueryStatus::StaleSkipped;
            }
            return QueryStatus::BadStartByte;
        case BUS_ERR_CHECKSUM:
            return QueryStatus::Checksum;
        case BUS_ERR_TOO_LONG:
            return QueryStatus::TooLong;
        case BUS_ERR_READ:
            return QueryStatus::Truncated;
        case BUS_ERR_STALE:
            return QueryStatus::StaleSkipped;
        default:
            return QueryStatus::NoReply;
    }
}

}  // namespace veldra::core
