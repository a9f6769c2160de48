// What the export tests read out of the messages a subscriber received.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/broker.h"

namespace export_test {

inline bool is_status(const Received& r) {
    return r.topic.size() >= 7 && r.topic.compare(r.topic.size() - 7, 7, "/status") == 0;
}

// The JSON messages of one sensor topic, in the order they came.
inline std::vector<nlohmann::json> json_of(const std::vector<Received>& all,
                                           const std::string& topic) {
    std::vector<nlohmann::json> out;
    for (const Received& r : all) {
        if (r.topic == topic) {
            out.push_back(nlohmann::json::parse(r.payload));
        }
    }
    return out;
}

// The seq numbers of one sensor topic, in the order they came (duplicates kept).
inline std::vector<std::int64_t> seqs_of(const std::vector<Received>& all,
                                         const std::string& topic) {
    std::vector<std::int64_t> out;
    for (const nlohmann::json& j : json_of(all, topic)) {
        out.push_back(j.at("seq").get<std::int64_t>());
    }
    return out;
}

// True when every seq from 1 to n came.
inline bool has_all(const std::vector<std::int64_t>& seqs, std::int64_t n) {
    for (std::int64_t s = 1; s <= n; ++s) {
        if (std::find(seqs.begin(), seqs.end(), s) == seqs.end()) {
            return false;
        }
    }
    return true;
}

// At least once, in order: a message may come twice (the broker got it, its acknowledgement
// was lost), but never after a later one, and none is missing up to the last.
inline ::testing::AssertionResult in_order_at_least_once(const std::vector<std::int64_t>& seqs) {
    std::int64_t highest = 0;
    for (std::size_t i = 0; i < seqs.size(); ++i) {
        if (seqs[i] > highest + 1) {
            return ::testing::AssertionFailure()
                   << "seq " << seqs[i] << " came after " << highest << " at position " << i;
        }
        if (seqs[i] < highest && std::count(seqs.begin(), seqs.begin() + i, seqs[i]) == 0) {
            return ::testing::AssertionFailure()
                   << "seq " << seqs[i] << " came late, after " << highest;
        }
        highest = std::max(highest, seqs[i]);
    }
    return ::testing::AssertionSuccess();
}

// The retained and live values of the status topic, in the order they came.
inline std::vector<std::string> statuses_of(const std::vector<Received>& all) {
    std::vector<std::string> out;
    for (const Received& r : all) {
        if (is_status(r)) {
            out.push_back(r.payload);
        }
    }
    return out;
}

}  // namespace export_test
