// Finding frames in what the line carries between exchanges (an internal part of the bus): whole
// frames are found behind noise and behind false starts, one after the other, and nothing is
// found in what is not a frame.
#include <gtest/gtest.h>

#include <vector>

#include "bus/bus.h"
#include "frame_scanner.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes frame(std::uint32_t address, std::string_view payload) {
    return build_frame(0, static_cast<int>(address), payload);
}

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) {
        all.insert(all.end(), p.begin(), p.end());
    }
    return all;
}

TEST(FrameScanner, FindsTheFramesInALine) {
    Bytes spoiled = frame(0x0B0B0B, "9");
    spoiled.back() ^= 0x01;
    const Bytes false_start = {0x81, 0x00, 0x00, 0x00, 0x01, 0xFD, 0xFD, 0xFD, 0xFD, 0x00, 0x01};
    const Bytes long_false_start = {0x81, 0x00, 0x00, 0x00, 0x01, 0xFD,
                                    0xFD, 0xFD, 0xFD, 0xFF, 0xFF};  // 65535: not waited for
    struct Case {
        const char* name;
        Bytes line;
        std::vector<std::uint32_t> found;
    };
    const Case cases[] = {
        {"one frame", frame(0x0A1B2C, "12.5"), {0x0A1B2C}},
        {"noise, then a frame", join({{0x00, 0x55, 0xFF}, frame(0x0A1B2C, "1")}), {0x0A1B2C}},
        {"two frames back to back",
         join({frame(0x000001, "1"), frame(0x000002, "22")}),
         {0x000001, 0x000002}},
        {"a spoiled frame, then a good one", join({spoiled, frame(0x0C0C0C, "3")}), {0x0C0C0C}},
        {"a false start hiding a frame", join({false_start, frame(0x0D0D0D, "4")}), {0x0D0D0D}},
        {"a false start with a huge length",
         join({long_false_start, frame(0x0E0E0E, "5")}),
         {0x0E0E0E}},
        {"only noise", {0x81, 0x81, 0x00, 0x13, 0x81}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        veldra::bus::FrameScanner scanner;
        std::vector<std::uint32_t> found;
        for (const std::uint8_t b : c.line) {
            for (const std::uint32_t address : scanner.feed(b)) {
                found.push_back(address);
            }
        }
        EXPECT_EQ(found, c.found);
    }
}

}  // namespace
