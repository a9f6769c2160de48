// Prepares a session's log files: both paths checked before either is touched, earlier logs
// moved aside, then both opened emptied (or, for a dated pair, both created new); the first
// failure becomes the start's refusal.
#include "logging/log_files.h"

#include <unistd.h>

#include "log_archive.h"
#include "logging/log_format.h"
#include "platform/textfile.h"

namespace veldra::core {
namespace {

constexpr const char* kAgain = "and then press  \"Start Logging\" again!";

Message refusal(std::string text) {
    return {"Error", std::move(text)};
}

// Refuses a file that is not one of our logs and moves an earlier log of ours aside, so that
// both paths can be emptied.
std::optional<Message> keep_earlier_logs(const std::string& text_path,
                                         const std::string& csv_path) {
    for (const std::string* path : {&text_path, &csv_path}) {
        if (inspect_existing_log(*path) == ExistingLog::Foreign) {
            return refusal("The file \"" + *path +
                           "\" already holds data that is not a log of this program; a new "
                           "session would overwrite it.\n\nPlease choose another log file " +
                           kAgain);
        }
    }
    std::vector<std::string> ours;
    for (const std::string* path : {&text_path, &csv_path}) {
        if (inspect_existing_log(*path) == ExistingLog::Ours) {
            ours.push_back(*path);
        }
    }
    const std::vector<ArchiveResult> kept_all = archive_logs(ours);
    for (std::size_t i = 0; i < ours.size(); ++i) {
        const std::string* path = &ours[i];
        const ArchiveResult& kept = kept_all[i];
        if (!kept.ok) {
            return refusal("The earlier log \"" + *path +
                           "\" could not be kept under a new name (" + describe_errno(kept.error) +
                           "), so it would be overwritten.\n\nPlease check the folder's "
                           "permissions or choose another log file " +
                           kAgain);
        }
    }
    return std::nullopt;
}

LogFile open_log(const std::string& path, bool create_new, std::optional<Message>& failure) {
    int error = 0;
    LogFile file =
        create_new ? LogFile::create_new(path, error) : LogFile::open_emptied(path, error);
    if (!file.is_open()) {
        // Says also what the path is when it is no regular file (a device, a named pipe...).
        std::string reason = LastOpenFileError();
        if (reason.empty() && error != 0) {
            reason = describe_errno(error);
        }
        std::string text = "The log file \"" + path + "\" could not be opened";
        if (!reason.empty()) {
            text += " (" + reason + ")";
        }
        failure = refusal(text + ".\n\nPlease check the path and the permissions " + kAgain);
    }
    return file;
}

}  // namespace

std::optional<std::string> csv_log_path(const std::string& text_path,
                                        std::optional<Message>& refusal_out) {
    std::optional<std::string> csv_path = logfmt::csv_path_for(text_path);
    if (!csv_path) {
        refusal_out = refusal(
            "The log file \"" + text_path +
            "\" cannot be used: its CSV log is named by replacing the last three characters "
            "with \"csv\", which needs a name of at least three characters not ending in "
            "\"csv\".\n\nPlease choose another log file " +
            std::string(kAgain));
    }
    return csv_path;
}

PreparedLogFiles prepare_log_files(const std::string& text_path) {
    PreparedLogFiles prepared;
    const std::optional<std::string> csv_path = csv_log_path(text_path, prepared.refusal);
    if (!csv_path) {
        return prepared;
    }
    prepared.refusal = keep_earlier_logs(text_path, *csv_path);
    if (prepared.refusal) {
        return prepared;
    }
    prepared.text = open_log(text_path, false, prepared.refusal);
    if (prepared.refusal) {
        return prepared;
    }
    prepared.csv = open_log(*csv_path, false, prepared.refusal);
    if (prepared.refusal) {
        prepared.text.close();  // left empty: it was emptied, but no header went in
    }
    return prepared;
}

PreparedLogFiles create_log_files(const std::string& text_path, const std::string& csv_path) {
    PreparedLogFiles prepared;
    prepared.text = open_log(text_path, true, prepared.refusal);
    if (prepared.refusal) {
        return prepared;
    }
    prepared.csv = open_log(csv_path, true, prepared.refusal);
    if (prepared.refusal) {
        prepared.text.close();
        ::unlink(text_path.c_str());  // made just now and still empty: leave nothing behind
    }
    return prepared;
}

}  // namespace veldra::core
