// The worked example of the log outputs, as the window writes it: two sensors, 01a2b3 answering
// counts 12345, permittivity 21.5, water content 33.25 and temperature 23.4, 00fe01 answering
// nothing, one cycle at 2024-03-05 14:07:09. The window's tests and the service's share it, so
// both programs are held to the same bytes.
#pragma once

#include <string>

namespace worked_example {

inline constexpr int kFirst = 0x01a2b3;
inline constexpr int kSecond = 0x00fe01;
inline constexpr const char* kStamp = "2024-03-05 14:07:09";

inline const std::string kHeader1 =
    "     ISO Timestamp    |                    Sensor 01a2b3                    "
    "|                    Sensor 00fe01                    ";
inline const std::string kHeader2 =
    "  YYYY-MM-DD HH:MM:SS | Counts | Permittivity | Water Content | Temperature "
    "| Counts | Permittivity | Water Content | Temperature ";
inline const std::string kDashes(130, '-');
inline const std::string kData =
    "  2024-03-05 14:07:09 | 12345  |     21.50    |      33.25    |     23.40   "
    "|  error |     error    |      error    |    error    ";
// The text log (and the display table) up to the first data line.
inline const std::string kTextHeader = kHeader1 + "\n" + kHeader2 + "\n" + kDashes + "\n";

inline const std::string kCsvHeader =
    "\"sep=;\"\n"
    "ISO Timestamp;Sensor 01a2b3;Sensor 01a2b3;Sensor 01a2b3;Sensor 01a2b3;"
    "Sensor 00fe01;Sensor 00fe01;Sensor 00fe01;Sensor 00fe01\n"
    "YYYY-MM-DD HH:MM:SS;Counts;Permittivity;Water Content;Temperature;"
    "Counts;Permittivity;Water Content;Temperature\n";
inline const std::string kCsvRow = "2024-03-05 14:07:09;12345;21.50;33.25;23.40;0;0.00;0.00;0.00";

}  // namespace worked_example
