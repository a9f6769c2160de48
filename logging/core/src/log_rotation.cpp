// Dated log names, the choice of a session's next pair and the retention of old pairs. A
// name is only ever taken when nothing has it, and only our own dated logs are deleted.
#include "logging/log_rotation.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <filesystem>
#include <system_error>

#include "log_archive.h"

namespace veldra::core {
namespace {

// Where the date goes: before the extension of the file name, or at its end.
std::size_t insertion_point(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    const std::size_t name_start = slash == std::string_view::npos ? 0 : slash + 1;
    const std::size_t dot = path.rfind('.');
    return dot == std::string_view::npos || dot <= name_start ? path.size() : dot;
}

std::string_view file_name_of(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// "2026-03-05": the year with four digits at least, month and day with two.
std::string date_text(const LogDate& d) {
    const auto padded = [](int v, std::size_t width) {
        std::string s = std::to_string(v);
        return std::string(s.size() < width ? width - s.size() : 0, '0') + s;
    };
    return padded(d.year, 4) + "-" + padded(d.month, 2) + "-" + padded(d.day, 2);
}

std::optional<int> read_number(std::string_view digits) {
    if (digits.empty() || (digits.size() > 1 && digits.front() == '0')) {
        return std::nullopt;
    }
    int value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec != std::errc{} || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    return value;
}

// A number written with exactly these digits (leading zeros allowed).
std::optional<int> fixed_digits(std::string_view digits) {
    if (digits.empty() ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    int value = 0;
    std::from_chars(digits.data(), digits.data() + digits.size(), value);
    return value;
}

bool days_valid(int year, int month, int day) {
    return month >= 1 && month <= 12 && day >= 1 && day <= 31 &&
           std::chrono::year_month_day{std::chrono::year{year},
                                       std::chrono::month{static_cast<unsigned>(month)},
                                       std::chrono::day{static_cast<unsigned>(day)}}
               .ok();
}

std::chrono::sys_days days_of(const LogDate& d) {
    return std::chrono::year_month_day{std::chrono::year{d.year},
                                       std::chrono::month{static_cast<unsigned>(d.month)},
                                       std::chrono::day{static_cast<unsigned>(d.day)}};
}

// False when anything at all has the name, even a dangling symlink. A name that cannot be
// looked at counts as free: creating the file then fails with the reason, and says it.
bool name_is_free(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) != 0;
}

}  // namespace

std::string dated_log_path(const std::string& path, const LogDate& date, int sequence) {
    const std::size_t at = insertion_point(path);
    std::string dated = path.substr(0, at) + "." + date_text(date);
    if (sequence > 1) {
        dated += "-" + std::to_string(sequence);
    }
    return dated + path.substr(at);
}

std::optional<DatedLog> parse_dated_log_name(const std::string& path, std::string_view file_name) {
    const std::string_view entry = file_name_of(path);
    const std::size_t at = insertion_point(entry);
    const std::string_view stem = entry.substr(0, at);
    const std::string_view extension = entry.substr(at);
    // stem "." YYYY-MM-DD ["-" N] extension
    if (file_name.size() < stem.size() + 11 + extension.size() || !file_name.starts_with(stem) ||
        !file_name.ends_with(extension) || file_name[stem.size()] != '.') {
        return std::nullopt;
    }
    std::string_view middle = file_name.substr(stem.size() + 1);
    middle.remove_suffix(extension.size());
    if (middle.size() < 10 || middle[4] != '-' || middle[7] != '-') {
        return std::nullopt;
    }
    const auto year = fixed_digits(middle.substr(0, 4));
    const auto month = fixed_digits(middle.substr(5, 2));
    const auto day = fixed_digits(middle.substr(8, 2));
    if (!year || !month || !day || !days_valid(*year, *month, *day)) {
        return std::nullopt;
    }
    DatedLog dated{{*year, *month, *day}, 1};
    const std::string_view rest = middle.substr(10);
    if (!rest.empty()) {
        const auto sequence = rest.front() == '-' ? read_number(rest.substr(1)) : std::nullopt;
        if (!sequence || *sequence < 2) {
            return std::nullopt;
        }
        dated.sequence = *sequence;
    }
    return dated;
}

PreparedLogFiles LogRotation::start(const std::string& entry, const FileRules& rules,
                                    const LogDate& today) {
    rules_ = rules;
    text_entry_ = entry;
    csv_entry_.clear();
    if (!rotating()) {
        return prepare_log_files(entry);
    }
    PreparedLogFiles prepared;
    const std::optional<std::string> csv = csv_log_path(entry, prepared.refusal);
    if (!csv) {
        return prepared;
    }
    csv_entry_ = *csv;
    const LogPair pair = free_pair(today, 1);
    prepared = create_log_files(pair.text, pair.csv);
    return prepared;
}

std::optional<LogPair> LogRotation::next_pair(const LogDate& cycle_date, std::uint64_t text_bytes,
                                              bool text_has_data) {
    switch (rules_.rotation) {
        case FileRules::Rotation::Off:
            return std::nullopt;
        case FileRules::Rotation::Daily:
            // Any other date, also one a clock set back gives: the names stay free of clashes.
            if (cycle_date == date_) {
                return std::nullopt;
            }
            return free_pair(cycle_date, 1);
        case FileRules::Rotation::Size:
            if (!text_has_data || text_bytes < rules_.rotate_bytes) {
                return std::nullopt;
            }
            return free_pair(cycle_date, cycle_date == date_ ? sequence_ + 1 : 1);
    }
    return std::nullopt;
}

std::size_t LogRotation::remove_expired(const LogDate& today,
                                        std::span<const std::string> held) const {
    if (!rotating() || rules_.keep_days <= 0) {
        return 0;
    }
    const std::chrono::sys_days last_expired = days_of(today) - std::chrono::days{rules_.keep_days};
    const std::string folder = std::filesystem::path(text_entry_).parent_path().string();
    std::error_code ec;
    std::filesystem::directory_iterator it(folder.empty() ? "." : folder, ec);
    std::size_t removed = 0;
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        for (const std::string* entry : {&text_entry_, &csv_entry_}) {
            const std::optional<DatedLog> dated = parse_dated_log_name(*entry, name);
            if (!dated || days_of(dated->date) > last_expired) {
                continue;
            }
            // The name as this session would write it, so that `held` compares alike.
            const std::string path = dated_log_path(*entry, dated->date, dated->sequence);
            struct stat st {};
            if (std::find(held.begin(), held.end(), path) != held.end() ||
                ::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
                inspect_existing_log(path) != ExistingLog::Ours) {
                continue;
            }
            if (::unlink(path.c_str()) == 0) {
                ++removed;
            }
        }
    }
    return removed;
}

LogPair LogRotation::free_pair(const LogDate& date, int first) {
    int sequence = std::max(first, 1);
    LogPair pair;
    for (int tries = 0; tries < 100000; ++tries, ++sequence) {
        pair = {dated_log_path(text_entry_, date, sequence),
                dated_log_path(csv_entry_, date, sequence)};
        if (name_is_free(pair.text) && name_is_free(pair.csv)) {
            break;
        }
    }
    // Past the tries the last names are taken anyway: creating them fails without harm.
    date_ = date;
    sequence_ = sequence;
    return pair;
}

}  // namespace veldra::core
