// The display cells, data lines and header lines, made from the query table and the record.
#include "logging/record_format.h"

#include "logging/log_format.h"
#include "logging/query_table.h"

namespace veldra::core {

std::string display_cell(Quantity q, const QueryResult& result) {
    const QueryRow& row = query_row(q);
    if (shows_value(result.status)) {
        return row.success_cell(result.value.value_or(0.0));
    }
    return std::string(row.error_cell);
}

std::string display_data_line(const CycleRecord& record) {
    std::string line = logfmt::timestamp_cell(record.local);
    for (const SensorReading& sensor : record.sensors) {
        for (const QueryRow& row : query_table()) {
            line += display_cell(row.quantity, sensor.queries[row.slot]);
        }
    }
    return line;
}

std::string csv_data_row(const CycleRecord& record) {
    std::string row = logfmt::csv_timestamp(record.local);
    for (const SensorReading& sensor : record.sensors) {
        for (const QueryRow& query : query_table()) {
            row += query.csv_field(sensor.queries[query.slot].value.value_or(0.0));
        }
    }
    return row;
}

std::array<std::string, 3> display_header(std::span<const int> addresses) {
    return {logfmt::display_header_line1(addresses), logfmt::display_header_line2(addresses.size()),
            logfmt::display_header_line3(addresses.size())};
}

std::array<std::string, 3> csv_header(std::span<const int> addresses) {
    return {std::string(logfmt::kCsvSeparatorLine), logfmt::csv_header_line2(addresses),
            logfmt::csv_header_line3(addresses.size())};
}

}  // namespace veldra::core
