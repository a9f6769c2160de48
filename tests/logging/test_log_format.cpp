// The texts of the display table and the CSV log, the CSV path and the reading of replies.
#include <clocale>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "logging/log_format.h"

namespace logfmt = veldra::logfmt;

namespace {

const std::vector<int> kTwoSensors{0x01a2b3, 0x00fe01};
const logfmt::Timestamp kStamp{2024, 3, 5, 14, 7, 9};

TEST(LogFormat, WorkedExampleDisplayLines) {
    EXPECT_EQ(logfmt::display_header_line1(kTwoSensors),
              "     ISO Timestamp    |                    Sensor 01a2b3                    "
              "|                    Sensor 00fe01                    ");
    EXPECT_EQ(logfmt::display_header_line2(2),
              "  YYYY-MM-DD HH:MM:SS | Counts | Permittivity | Water Content | Temperature "
              "| Counts | Permittivity | Water Content | Temperature ");
    EXPECT_EQ(logfmt::display_header_line3(2), std::string(130, '-'));
    const std::string data =
        logfmt::timestamp_cell(kStamp) + logfmt::counts_cell(12345) +
        logfmt::permittivity_cell(21.5f) + logfmt::water_content_cell(33.25f) +
        logfmt::temperature_cell(23.4f) + std::string(logfmt::kCountsErrorCell) +
        std::string(logfmt::kPermittivityErrorCell) + std::string(logfmt::kWaterContentErrorCell) +
        std::string(logfmt::kTemperatureErrorCell);
    EXPECT_EQ(data,
              "  2024-03-05 14:07:09 | 12345  |     21.50    |      33.25    |     23.40   "
              "|  error |     error    |      error    |    error    ");
    for (const std::string& line :
         {logfmt::display_header_line1(kTwoSensors), logfmt::display_header_line2(2), data}) {
        EXPECT_EQ(line.size(), 130u);
    }
    EXPECT_EQ(logfmt::display_header_line3(1).size(), 76u);
}

TEST(LogFormat, WorkedExampleCsvLines) {
    EXPECT_EQ(logfmt::kCsvSeparatorLine, "\"sep=;\"");
    EXPECT_EQ(logfmt::csv_header_line2(kTwoSensors),
              "ISO Timestamp;Sensor 01a2b3;Sensor 01a2b3;Sensor 01a2b3;Sensor 01a2b3;"
              "Sensor 00fe01;Sensor 00fe01;Sensor 00fe01;Sensor 00fe01");
    EXPECT_EQ(logfmt::csv_header_line3(2),
              "YYYY-MM-DD HH:MM:SS;Counts;Permittivity;Water Content;Temperature;"
              "Counts;Permittivity;Water Content;Temperature");
    EXPECT_EQ(logfmt::csv_timestamp(kStamp) +
                  logfmt::csv_sensor_fields(12345, 21.5f, 33.25f, 23.4f) +
                  logfmt::csv_sensor_fields(0, 0, 0, 0),
              "2024-03-05 14:07:09;12345;21.50;33.25;23.40;0;0.00;0.00;0.00");
}

// Every cell, with its standard width and with values that widen it.
TEST(LogFormat, CellsKeepWidthOrWiden) {
    struct Case {
        std::string cell, expected;
    };
    const std::vector<Case> cases{
        {logfmt::counts_cell(0), "| 00000  "},
        {logfmt::counts_cell(-12), "| -0012  "},
        {logfmt::counts_cell(-9999), "| -9999  "},
        {logfmt::counts_cell(-10000), "| -10000  "},
        {logfmt::counts_cell(123456), "| 123456  "},
        {logfmt::counts_cell(-2147483647 - 1), "| -2147483648  "},
        {logfmt::permittivity_cell(0.0), "|      0.00    "},
        {logfmt::permittivity_cell(-9.99), "|     -9.99    "},
        {logfmt::permittivity_cell(-10.0), "|     -10.00    "},
        {logfmt::permittivity_cell(100.0), "|     100.00    "},
        {logfmt::water_content_cell(5.005f), "|       5.01    "},  // the float is 5.0050001
        {logfmt::water_content_cell(5.005), "|       5.00    "},   // the double is 5.0049999
        {logfmt::water_content_cell(1234.5), "|      1234.50    "},
        {logfmt::temperature_cell(-40.0), "|    -40.00   "},
        {logfmt::temperature_cell(1000.0), "|    1000.00   "},
        {logfmt::temperature_cell(-100.0), "|    -100.00   "},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.cell, c.expected);
    }
    EXPECT_EQ(logfmt::kCountsErrorCell.size(), 9u);
    EXPECT_EQ(logfmt::kPermittivityErrorCell.size(), 15u);
    EXPECT_EQ(logfmt::kWaterContentErrorCell.size(), 16u);
    EXPECT_EQ(logfmt::kTemperatureErrorCell.size(), 14u);
    EXPECT_EQ(logfmt::csv_sensor_fields(-12, -0.5f, 1e6f, 0.125), ";-12;-0.50;1000000.00;0.12");
}

// The fixed-point texts agree with printf's "%6.2f" in the C locale over a spread of floats.
TEST(LogFormat, FixedPointMatchesPrintfInTheCLocale) {
    std::setlocale(LC_ALL, "C");
    float v = -2000.0f;
    for (int i = 0; i < 20000; ++i, v += 0.2003f) {
        char expected[64];
        std::snprintf(expected, sizeof expected, "|    %6.2f   ", static_cast<double>(v));
        ASSERT_EQ(logfmt::temperature_cell(v), expected);
    }
}

TEST(LogFormat, AddressesAndStatusTexts) {
    EXPECT_EQ(logfmt::hex_address(0xABCDEF), "abcdef");
    EXPECT_EQ(logfmt::hex_address(1), "000001");
    EXPECT_EQ(logfmt::status_text(0x00fe01, "Water Content"),
              "Reading Sensor 00fe01 Water Content...");
    // A sensor listed twice gets two identical groups.
    EXPECT_EQ(logfmt::csv_header_line2(std::vector<int>{5, 5}),
              "ISO Timestamp;Sensor 000005;Sensor 000005;Sensor 000005;Sensor 000005;"
              "Sensor 000005;Sensor 000005;Sensor 000005;Sensor 000005");
}

TEST(LogFormat, CsvPathReplacesLastThreeCharacters) {
    struct Case {
        std::string text;
        std::optional<std::string> csv;
    };
    const std::vector<Case> cases{
        {"/tmp/field.txt", "/tmp/field.csv"},
        {"a.text", "a.tcsv"},
        {"/data/data", "/data/dcsv"},
        {"abc", "csv"},
        {"/tmp/field.csv", std::nullopt},
        {"ab", std::nullopt},
        {"", std::nullopt},
        {"x.CSV", "x.csv"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(logfmt::csv_path_for(c.text), c.csv) << c.text;
    }
}

TEST(LogFormat, RepliesReadLikeScanfInTheCLocale) {
    struct IntCase {
        const char* text;
        int value;
    };
    for (const IntCase& c : std::vector<IntCase>{{"12345", 12345},
                                                 {"  \t-12xyz", -12},
                                                 {"+7", 7},
                                                 {"abc", 0},
                                                 {"", 0},
                                                 {"12.9", 12},
                                                 {"99999999999", 2147483647},
                                                 {"-99999999999", -2147483647 - 1}}) {
        EXPECT_EQ(logfmt::parse_counts_reply(c.text), c.value) << c.text;
    }
    struct FloatCase {
        const char* text;
        float value;
    };
    for (const FloatCase& c : std::vector<FloatCase>{{"21.5", 21.5f},
                                                     {" -3.25 degC", -3.25f},
                                                     {"1e2", 100.0f},
                                                     {"+.5", 0.5f},
                                                     {"n/a", 0.0f},
                                                     {"", 0.0f},
                                                     {"2,5", 2.0f}}) {
        EXPECT_EQ(logfmt::parse_float_reply(c.text), c.value) << c.text;
    }
}

// With a comma locale in force, the texts and the reading of replies do not change.
TEST(LogFormat, IndependentOfTheProcessLocale) {
    const std::string before =
        logfmt::csv_sensor_fields(1, 21.5f, 33.25f, -4.5f) + logfmt::permittivity_cell(21.5f);
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
        GTEST_SKIP() << "locale de_DE.UTF-8 is not installed";
    }
    const std::string after =
        logfmt::csv_sensor_fields(1, 21.5f, 33.25f, -4.5f) + logfmt::permittivity_cell(21.5f);
    const float parsed = logfmt::parse_float_reply("2.5");
    const float parsedComma = logfmt::parse_float_reply("2,5");
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(after, before);
    EXPECT_EQ(parsed, 2.5f);
    EXPECT_EQ(parsedComma, 2.0f);
}

}  // namespace
