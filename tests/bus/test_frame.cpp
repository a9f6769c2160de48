// The frame layout, its checksum and the frame reader, without any port: the reader is fed
// through its byte-source seam.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "bus/bus.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint16_t checksum_of(const std::string& s) {
    return frame_checksum(std::span(reinterpret_cast<const std::uint8_t*>(s.data()), s.size()));
}

// Feeds bytes to the reader, then fails every further read; counts the reads.
struct ByteFeed {
    explicit ByteFeed(Bytes b) : bytes(std::move(b)) {}
    Bytes bytes;
    std::size_t reads = 0;
    int receive(std::span<char> buffer) {
        const std::function<int()> source = [this]() -> int {
            const std::size_t i = reads++;
            return i < bytes.size() ? bytes[i] : -99;
        };
        return receive_bus_frame(source, buffer);
    }
};

const Bytes kWorkedRequest = {0x81, 0x00, 0x0A, 0x1B, 0x2C, 0xFD, 0xFD, 0xFD,
                              0xFD, 0x00, 0x0A, 0x47, 0x65, 0x74, 0x43, 0x6F,
                              0x75, 0x6E, 0x74, 0x73, 0x21, 0xAD, 0xEE};
const Bytes kWorkedReply = {0x81, 0x00, 0x0A, 0x1B, 0x2C, 0xFD, 0xFD, 0xFD, 0xFD,
                            0x00, 0x05, 0x31, 0x32, 0x33, 0x34, 0x35, 0xD0, 0x34};

TEST(Checksum, CheckValues) {
    EXPECT_EQ(checksum_of("123456789"), 0xCB39);
    EXPECT_EQ(checksum_of("\x81"), 0x2080);
    EXPECT_EQ(checksum_of(""), 0x0000);
    // The bare step, without complementing the bytes, is the common CRC-16 register.
    std::uint32_t crc = 0;
    for (const char c : std::string("123456789")) {
        crc = calcCRC16(crc, static_cast<std::uint8_t>(c), veldra::bus::kChecksumPolynomial);
    }
    EXPECT_EQ(crc, 0xBB3Du);
    // Only the low 8 bits of the data take part.
    EXPECT_EQ(calcCRC16(0x1234, 0xFFFFFF00 | 0x5A, veldra::bus::kChecksumPolynomial),
              calcCRC16(0x1234, 0x5A, veldra::bus::kChecksumPolynomial));
}

TEST(RequestFrame, WorkedExamplesByteForByte) {
    EXPECT_EQ(build_request_frame(0, 0x0A1B2C, "GetCounts!"), kWorkedRequest);

    struct Case {
        const char* command;
        std::uint8_t length;
        std::size_t frame_size;
        std::uint8_t crc_high, crc_low;
    };
    for (const Case& c : {Case{"GetPermittivity!", 0x10, 29, 0x01, 0xF6},
                          Case{"GetWaterContent!", 0x10, 29, 0x98, 0x9A},
                          Case{"GetTemperature!", 0x0F, 28, 0xCF, 0x35}}) {
        SCOPED_TRACE(c.command);
        const Bytes f = build_request_frame(0, 0x0A1B2C, c.command);
        ASSERT_EQ(f.size(), c.frame_size);
        EXPECT_EQ(Bytes(f.begin(), f.begin() + 9),
                  Bytes(kWorkedRequest.begin(), kWorkedRequest.begin() + 9));
        EXPECT_EQ(f[9], 0x00);
        EXPECT_EQ(f[10], c.length);
        EXPECT_EQ(std::string(f.begin() + 11, f.end() - 2), c.command);
        EXPECT_EQ(f[f.size() - 2], c.crc_high);
        EXPECT_EQ(f[f.size() - 1], c.crc_low);
    }
}

TEST(RequestFrame, EmptyCommandWideAddressAndHeader) {
    EXPECT_EQ(build_request_frame(0, 0x0A1B2C, ""), (Bytes{0x81, 0x00, 0x0A, 0x1B, 0x2C, 0xFD, 0xFD,
                                                           0xFD, 0xFD, 0x00, 0x00, 0x12, 0xA4}));
    // Only the low 24 address bits and the low 8 header bits are sent.
    EXPECT_EQ(build_request_frame(0, 0x10A1B2C, "GetCounts!"), kWorkedRequest);
    const Bytes h = build_request_frame(0x1FF, 0x0A1B2C, "x");
    EXPECT_EQ(h[1], 0xFF);
    EXPECT_EQ(build_request_frame(0x100, 0x0A1B2C, "GetCounts!")[1], 0x00);
    EXPECT_EQ(build_request_frame(0x100, 0x0A1B2C, "GetCounts!"), kWorkedRequest);
}

TEST(RequestFrame, CommandLongerThan87BytesIsRefused) {
    EXPECT_EQ(build_request_frame(0, 1, std::string(87, 'a')).size(),
              veldra::bus::kRequestBufferSize);
    EXPECT_TRUE(build_request_frame(0, 1, std::string(88, 'a')).empty());
    EXPECT_EQ(send_n_bus_message(1, 9600, 0, 1, std::string(88, 'a').c_str()), BUS_ERR_TOO_LONG);
}

TEST(FrameReader, WorkedReplyAndItsCorruptedTwin) {
    std::array<char, 32> buffer{};
    ByteFeed good(kWorkedReply);
    EXPECT_EQ(good.receive(buffer), 5);
    EXPECT_STREQ(buffer.data(), "12345");
    EXPECT_EQ(good.reads, kWorkedReply.size());  // one frame, nothing beyond it

    Bytes bad = kWorkedReply;
    bad.back() ^= 0x01;
    buffer.fill('#');
    ByteFeed corrupted(bad);
    EXPECT_EQ(corrupted.receive(buffer), BUS_ERR_CHECKSUM);
    EXPECT_STREQ(buffer.data(), "12345");  // the text stays, terminated

    // The checksum bytes low byte first do not pass.
    Bytes swapped = kWorkedReply;
    std::swap(swapped[swapped.size() - 1], swapped[swapped.size() - 2]);
    EXPECT_EQ(ByteFeed(swapped).receive(buffer), BUS_ERR_CHECKSUM);
}

TEST(FrameReader, AnySingleBitFlipIsRejected) {
    std::array<char, 64> buffer{};
    for (std::size_t byte = 0; byte < kWorkedReply.size(); ++byte) {
        for (int bit = 0; bit < 8; ++bit) {
            Bytes f = kWorkedReply;
            f[byte] ^= static_cast<std::uint8_t>(1U << bit);
            const int r = ByteFeed(f).receive(buffer);
            SCOPED_TRACE("byte " + std::to_string(byte) + " bit " + std::to_string(bit));
            if (byte == 0) {
                EXPECT_EQ(r, BUS_ERR_START_BYTE);
            } else if (byte == 9 || byte == 10) {
                EXPECT_LT(r, 0);  // a different length reads a different frame
            } else {
                EXPECT_EQ(r, BUS_ERR_CHECKSUM);
            }
        }
    }
}

TEST(FrameReader, AcceptsAnyHeaderAddressAndFixedFieldWithRightChecksum) {
    Bytes f = build_frame(0x7E, 0x654321, "42");
    f[5] = 0x00;  // a different fixed field, checksum made to match
    const std::uint16_t crc = frame_checksum(std::span(f).first(f.size() - 2));
    f[f.size() - 2] = static_cast<std::uint8_t>(crc >> 8);
    f[f.size() - 1] = static_cast<std::uint8_t>(crc & 0xFF);
    std::array<char, 8> buffer{};
    EXPECT_EQ(ByteFeed(f).receive(buffer), 2);
    EXPECT_STREQ(buffer.data(), "42");
}

TEST(FrameReader, FirstByteDecidesAfterOneRead) {
    std::array<char, 8> buffer{};
    ByteFeed noise({0x55, 0x81, 0x00});
    EXPECT_EQ(noise.receive(buffer), BUS_ERR_START_BYTE);
    EXPECT_EQ(noise.reads, 1u);
    ByteFeed silence({});
    EXPECT_EQ(silence.receive(buffer), BUS_ERR_START_BYTE);
    EXPECT_EQ(silence.reads, 1u);
}

TEST(FrameReader, FailedReadInsideFrameEndsAtOnce) {
    std::array<char, 32> buffer{};
    for (std::size_t cut = 1; cut < kWorkedReply.size(); ++cut) {
        SCOPED_TRACE("cut after " + std::to_string(cut));
        ByteFeed f(Bytes(kWorkedReply.begin(), kWorkedReply.begin() + static_cast<long>(cut)));
        EXPECT_EQ(f.receive(buffer), BUS_ERR_READ);
        EXPECT_EQ(f.reads, cut + 1);  // exactly one failed read, no waiting for the rest
    }
}

TEST(FrameReader, PayloadThatDoesNotFitIsRefusedWithoutWritingPastTheBuffer) {
    // 8 usable bytes inside guard bytes.
    std::array<char, 24> storage{};
    storage.fill('G');
    const std::span<char> buffer(storage.data() + 8, 8);
    const auto guards_intact = [&] {
        for (std::size_t i = 0; i < storage.size(); ++i) {
            if ((i < 8 || i >= 16) && storage[i] != 'G') {
                return false;
            }
        }
        return true;
    };
    ByteFeed fits(build_frame(0, 1, "1234567"));  // 7 + terminator
    EXPECT_EQ(fits.receive(buffer), 7);
    EXPECT_STREQ(buffer.data(), "1234567");
    ByteFeed too_long(build_frame(0, 1, "12345678"));
    EXPECT_EQ(too_long.receive(buffer), BUS_ERR_TOO_LONG);
    EXPECT_EQ(too_long.reads, 11u);  // stops at the length field
    EXPECT_EQ(buffer[0], '\0');
    ByteFeed huge(build_frame(0, 1, std::string(65535, 'x')));
    EXPECT_EQ(huge.receive(buffer), BUS_ERR_TOO_LONG);
    EXPECT_TRUE(guards_intact());
    EXPECT_EQ(ByteFeed(build_frame(0, 1, "")).receive({}), BUS_ERR_TOO_LONG);
}

TEST(FrameReader, EmptyPayloadWithRightChecksumIsZero) {
    std::array<char, 8> buffer{};
    buffer.fill('#');
    EXPECT_EQ(ByteFeed(build_frame(0, 0x0A1B2C, "")).receive(buffer), 0);
    EXPECT_EQ(buffer[0], '\0');
}

}  // namespace
