// libFuzzer target for the reply frame reader. The first two input bytes choose the size of
// the caller's buffer (so payloads that just fit and just do not are both reached); the rest
// is what the line delivers, after which every read fails as a time-out would.
// Checks: nothing is written outside the buffer (ASan sees the exact-size heap block), the
// result is one of the documented ones, an accepted payload is terminated and matches the
// frame, and a frame built from the same payload is always accepted.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

#include "bus/bus.h"

namespace {

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::size_t buffer_size = (static_cast<std::size_t>(data[0]) << 8 | data[1]) % 300;
    const std::span<const std::uint8_t> line(data + 2, size - 2);

    std::size_t pos = 0;
    const std::function<int()> source = [&]() -> int {
        return pos < line.size() ? line[pos++] : -99;
    };
    std::vector<char> buffer(buffer_size);  // exact size: any overrun is a heap overflow
    const int r = receive_bus_frame(source, buffer);

    check(r >= 0 || r == BUS_ERR_START_BYTE || r == BUS_ERR_CHECKSUM || r == BUS_ERR_TOO_LONG ||
          r == BUS_ERR_READ);
    check(pos <= line.size() + 1);  // at most one failed read, then it stops
    if (r >= 0) {
        const auto n = static_cast<std::size_t>(r);
        check(n < buffer.size() && buffer[n] == '\0');
        check(pos == n + veldra::bus::kFrameOverhead);  // exactly one frame was read
        check(std::memcmp(buffer.data(), line.data() + 11, n) == 0);
        // Re-framing the payload under the same header and address gives the same frame.
        const auto again = build_frame(line[1], line[2] << 16 | line[3] << 8 | line[4],
                                       std::string_view(buffer.data(), n));
        check(line[5] != 0xFD || line[6] != 0xFD || line[7] != 0xFD || line[8] != 0xFD ||
              std::equal(again.begin(), again.end(), line.begin()));
    }

    // Whatever the input, a frame we build ourselves from it is accepted back.
    const std::string_view payload(reinterpret_cast<const char*>(line.data()),
                                   std::min<std::size_t>(line.size(), 200));
    const auto frame = build_frame(0, static_cast<int>(size), payload);
    std::size_t fpos = 0;
    const std::function<int()> frame_source = [&]() -> int {
        return fpos < frame.size() ? frame[fpos++] : -99;
    };
    std::vector<char> roomy(payload.size() + 1);
    check(receive_bus_frame(frame_source, roomy) == static_cast<int>(payload.size()));
    return 0;
}
