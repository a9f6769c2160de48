// The table of the four queries and the reading of their replies.
#include "logging/query_table.h"

#include <array>

#include "bus/protocol.h"
#include "logging/log_format.h"

namespace veldra::core {
namespace {

std::string counts_cell(double value) {
    return logfmt::counts_cell(static_cast<int>(value));
}

std::string csv_counts(double value) {
    return logfmt::csv_counts_field(static_cast<int>(value));
}

constexpr std::array<QueryRow, kQuantityCount> kQueryTable{{
    {Quantity::Counts, 0, "Counts", bus::kCommandCounts, Conversion::Integer, &counts_cell,
     logfmt::kCountsErrorCell, &csv_counts},
    {Quantity::Permittivity, 1, "Permittivity", bus::kCommandPermittivity, Conversion::Float,
     &logfmt::permittivity_cell, logfmt::kPermittivityErrorCell, &logfmt::csv_fixed_field},
    {Quantity::WaterContent, 2, "Water Content", bus::kCommandWaterContent, Conversion::Float,
     &logfmt::water_content_cell, logfmt::kWaterContentErrorCell, &logfmt::csv_fixed_field},
    {Quantity::Temperature, 3, "Temperature", bus::kCommandTemperature, Conversion::Float,
     &logfmt::temperature_cell, logfmt::kTemperatureErrorCell, &logfmt::csv_fixed_field},
}};

// Rows stand in the order of the quantities and of the bus's commands, and each result in its
// row's slot, so a quantity finds its row and its result by its index.
constexpr bool rows_in_order() {
    for (std::size_t i = 0; i < kQueryTable.size(); ++i) {
        if (kQueryTable[i].quantity != kQuantities[i] || kQueryTable[i].slot != i ||
            std::string_view(kQueryTable[i].command) != bus::kCommands[i]) {
            return false;
        }
    }
    return true;
}
static_assert(rows_in_order());

}  // namespace

std::span<const QueryRow, kQuantityCount> query_table() {
    return kQueryTable;
}

const QueryRow& query_row(Quantity q) {
    return kQueryTable[static_cast<std::size_t>(q)];
}

std::optional<double> convert_reply(const QueryRow& row, std::string_view text) {
    if (row.conversion == Conversion::Integer) {
        if (const std::optional<int> v = logfmt::read_counts_reply(text)) {
            return static_cast<double>(*v);
        }
        return std::nullopt;
    }
    if (const std::optional<float> v = logfmt::read_float_reply(text)) {
        return static_cast<double>(*v);
    }
    return std::nullopt;
}

}  // namespace veldra::core
