// The names of quantities and query statuses, for people and for exporters.
#include "logging/cycle_record.h"

namespace veldra::core {

std::string_view quantity_name(Quantity q) {
    switch (q) {
        case Quantity::Counts:
            return "Counts";
        case Quantity::Permittivity:
            return "Permittivity";
        case Quantity::WaterContent:
            return "Water Content";
        case Quantity::Temperature:
            return "Temperature";
    }
    return "";
}

std::string_view quantity_key(Quantity q) {
    switch (q) {
        case Quantity::Counts:
            return "counts";
        case Quantity::Permittivity:
            return "permittivity";
        case Quantity::WaterContent:
            return "water_content";
        case Quantity::Temperature:
            return "temperature";
    }
    return "";
}

std::string_view status_name(QueryStatus s) {
    switch (s) {
        case QueryStatus::Received:
            return "received";
        case QueryStatus::NotANumber:
            return "not a number";
        case QueryStatus::NotSent:
            return "not sent";
        case QueryStatus::NoReply:
            return "no reply";
        case QueryStatus::BadStartByte:
            return "bad start byte";
        case QueryStatus::Checksum:
            return "checksum";
        case QueryStatus::Empty:
            return "empty";
        case QueryStatus::TooLong:
            return "too long";
        case QueryStatus::Truncated:
            return "broken off";
        case QueryStatus::StaleSkipped:
            return "stale frame skipped";
    }
    return "";
}

std::string_view status_key(QueryStatus s) {
    switch (s) {
        case QueryStatus::Received:
            return "ok";
        case QueryStatus::NotANumber:
            return "not_a_number";
        case QueryStatus::NotSent:
            return "not_sent";
        case QueryStatus::NoReply:
            return "no_reply";
        case QueryStatus::BadStartByte:
            return "bad_start_byte";
        case QueryStatus::Checksum:
            return "checksum";
        case QueryStatus::Empty:
            return "empty";
        case QueryStatus::TooLong:
            return "too_long";
        case QueryStatus::Truncated:
            return "truncated";
        case QueryStatus::StaleSkipped:
            return "stale";
    }
    return "";
}

}  // namespace veldra::core
