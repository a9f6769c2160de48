// Pieces of the export's notices, shared by the publisher and the session's export: one
// wording for the broker, the waiting messages and the last acknowledged cycle everywhere.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "export/outbox.h"
#include "export/publisher.h"

namespace veldra::exporter::texts {

// "11:22:12", local time.
std::string clock_time(std::chrono::system_clock::time_point t);
// "127.0.0.1:1883" (plain) or "127.0.0.1:8883 (TLS)".
std::string broker(const ExportSettings& settings);
// "no message waiting", "1 message waiting", "12 messages waiting".
std::string waiting(std::uint64_t count);
// "last acknowledged cycle: seq 17 of 2026-12-10 11:22:12", or "no cycle acknowledged yet".
std::string acknowledged(const std::optional<Acknowledged>& last);
// "819.2 MB", "48 kB"
std::string size(std::uint64_t bytes);

}  // namespace veldra::exporter::texts
