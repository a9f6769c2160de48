// The measurement core's outputs without any window: a cycle record turned into the display
// line and the CSV row, the text and CSV log observers writing whole files from a session's
// events, lines kept while writing fails and their notices, the dated names of rotation, and
// what the bus's results mean for a query.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "logging/log_observers.h"
#include "logging/log_rotation.h"
#include "logging/query_table.h"
#include "logging/record_format.h"
#include "logging/reply_status.h"
#include "platform/rs232.h"
#include "platform/wall_clock.h"
#include "unwritable_file.h"

namespace {

using namespace veldra::core;
namespace fs = std::filesystem;

constexpr int kFirst = 0x01a2b3;
constexpr int kSecond = 0x00fe01;

QueryResult received(double value) {
    return {QueryStatus::Received, value, "", 1, {}};
}

QueryResult failed(QueryStatus status) {
    return {status, std::nullopt, "", BUS_ERR_START_BYTE, {}};
}

// The worked example: the first sensor answers everything, the second nothing.
CycleRecord worked_example() {
    CycleRecord r;
    r.cycle = 1;
    r.local = {2024, 3, 5, 14, 7, 9};
    r.sensors.resize(2);
    r.sensors[0].address = kFirst;
    r.sensors[0].queries = {received(12345), received(21.5f), received(33.25f), received(23.4f)};
    r.sensors[1].address = kSecond;
    r.sensors[1].queries = {failed(QueryStatus::NoReply), failed(QueryStatus::Checksum),
                            failed(QueryStatus::NotSent), failed(QueryStatus::BadStartByte)};
    return r;
}

const std::string kWorkedLine =
    "  2024-03-05 14:07:09 | 12345  |     21.50    |      33.25    |     23.40   "
    "|  error |     error    |      error    |    error    ";
const std::string kWorkedRow = "2024-03-05 14:07:09;12345;21.50;33.25;23.40;0;0.00;0.00;0.00";

TEST(QueryTable, OneRowPerQuantityInTheOrderAsked) {
    const std::vector<std::string> commands{"GetCounts!", "GetPermittivity!", "GetWaterContent!",
                                            "GetTemperature!"};
    ASSERT_EQ(query_table().size(), kQuantityCount);
    for (std::size_t i = 0; i < kQuantityCount; ++i) {
        const QueryRow& row = query_table()[i];
        EXPECT_EQ(row.quantity, kQuantities[i]);
        EXPECT_EQ(&query_row(row.quantity), &row);
        EXPECT_EQ(row.command, commands[i]);
        EXPECT_EQ(row.status_name, quantity_name(row.quantity));
    }
}

// A reply that does not begin with a number has no value: the logs still show 0 for it.
TEST(QueryTable, ConversionsSayWhetherANumberWasRead) {
    struct Case {
        Quantity quantity;
        const char* text;
        std::optional<double> value;
    };
    for (const Case& c : std::vector<Case>{{Quantity::Counts, " -12xyz", -12.0},
                                           {Quantity::Counts, "12.9", 12.0},
                                           {Quantity::Counts, "abc", std::nullopt},
                                           {Quantity::Counts, "+", std::nullopt},
                                           {Quantity::Counts, "", std::nullopt},
                                           {Quantity::Temperature, "23.4", double(23.4f)},
                                           {Quantity::Permittivity, "1e2", 100.0},
                                           {Quantity::WaterContent, "n/a", std::nullopt},
                                           {Quantity::WaterContent, "-", std::nullopt}}) {
        EXPECT_EQ(convert_reply(query_row(c.quantity), c.text), c.value) << c.text;
    }
}

TEST(RecordFormat, WorkedExampleLineAndRow) {
    const CycleRecord r = worked_example();
    EXPECT_EQ(display_data_line(r), kWorkedLine);
    EXPECT_EQ(csv_data_row(r), kWorkedRow);
}

// Per status: the cell and the CSV field that a query with that status writes.
TEST(RecordFormat, EveryStatusHasItsCellAndField) {
    struct Case {
        QueryResult result;
        std::string cell, field;
    };
    const std::vector<Case> cases{
        {received(-12), "| -0012  ", ";-12"},
        {{QueryStatus::NotANumber, std::nullopt, "abc", 3, {}}, "| 00000  ", ";0"},
        {failed(QueryStatus::NotSent), "|  error ", ";0"},
        {failed(QueryStatus::NoReply), "|  error ", ";0"},
        {failed(QueryStatus::Empty), "|  error ", ";0"},
        {failed(QueryStatus::StaleSkipped), "|  error ", ";0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(status_name(c.result.status)));
        EXPECT_EQ(display_cell(Quantity::Counts, c.result), c.cell);
        CycleRecord r;
        r.local = {2024, 3, 5, 14, 7, 9};
        r.sensors.resize(1);
        r.sensors[0].queries = {c.result, failed(QueryStatus::NoReply),
                                failed(QueryStatus::NoReply), failed(QueryStatus::NoReply)};
        EXPECT_EQ(csv_data_row(r), "2024-03-05 14:07:09" + c.field + ";0.00;0.00;0.00");
    }
    EXPECT_EQ(display_cell(Quantity::Temperature, {QueryStatus::NotANumber, {}, "x", 1, {}}),
              "|      0.00   ");
}

TEST(ReplyStatus, BusResultsAndWhatTheReceiveSaw) {
    struct Case {
        const char* name;
        int received;
        ReceiveInfo info;
        QueryStatus status;
    };
    const std::vector<Case> cases{
        {"a reply", 5, {18, 0, kFirst, 0}, QueryStatus::Received},
        {"an empty payload", 0, {13, 0, kFirst, 0}, QueryStatus::Empty},
        {"silence", BUS_ERR_START_BYTE, {0, 0, 0, COM_ERR_TIMEOUT}, QueryStatus::NoReply},
        {"a wrong first byte", BUS_ERR_START_BYTE, {1, 0, 0, 0}, QueryStatus::BadStartByte},
        {"late answers, then silence",
         BUS_ERR_START_BYTE,
         {18, 1, 0, COM_ERR_TIMEOUT},
         QueryStatus::StaleSkipped},
        {"late answers until the time-out",
         BUS_ERR_START_BYTE,
         {36, 2, kSecond, 0},
         QueryStatus::StaleSkipped},
        {"a late answer, then a wrong first byte",
         BUS_ERR_START_BYTE,
         {19, 1, 0, 0},
         QueryStatus::BadStartByte},
        {"only late answers", BUS_ERR_STALE, {72, 4, kSecond, 0}, QueryStatus::StaleSkipped},
        {"a checksum", BUS_ERR_CHECKSUM, {18, 0, kFirst, 0}, QueryStatus::Checksum},
        {"too long", BUS_ERR_TOO_LONG, {11, 0, kFirst, 0}, QueryStatus::TooLong},
        {"broken off", BUS_ERR_READ, {7, 0, 0, COM_ERR_TIMEOUT}, QueryStatus::Truncated},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(reception_status(c.received, c.info), c.status) << c.name;
    }
}

// Collects the notices the log observers post.
struct Notices : NoticeSink {
    std::vector<Notice> seen;
    void post_notice(const Notice& notice) override { seen.push_back(notice); }
};

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class LogObservers : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "veldra-core-XXXXXX").string();
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
        SetWallClockForTesting([] { return WallClockReading{2024, 3, 5, 14, 7, 9}; });
    }
    void TearDown() override {
        SetWallClockForTesting({});
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    LogFile open(const fs::path& path) {
        int error = 0;
        LogFile file = LogFile::open_emptied(path.string(), error);
        EXPECT_TRUE(file.is_open()) << path << ": " << error;
        return file;
    }
    // A session of one worked-example cycle, as the session drives its observers.
    static void run(SessionObserver& observer) {
        const std::vector<int> addresses{kFirst, kSecond};
        SessionInfo info;
        info.addresses = addresses;
        info.display_header = display_header(addresses);
        info.csv_header = csv_header(addresses);
        observer.session_started(info);
        observer.cycle_finished(worked_example());
        observer.session_ended({1, {}});
    }

    fs::path dir_;
    Notices notices_;
};

TEST_F(LogObservers, WorkedExampleFilesByteForByte) {
    TextLogObserver text(notices_);
    CsvLogObserver csv(notices_);
    text.attach(open(dir_ / "field.txt"));
    csv.attach(open(dir_ / "field.csv"));
    run(text);
    run(csv);
    EXPECT_TRUE(text.held_paths().empty());  // closed at the end
    EXPECT_EQ(slurp(dir_ / "field.txt"),
              "     ISO Timestamp    |                    Sensor 01a2b3                    "
              "|                    Sensor 00fe01                    \n"
              "  YYYY-MM-DD HH:MM:SS | Counts | Permittivity | Water Content | Temperature "
              "| Counts | Permittivity | Water Content | Temperature \n" +
                  std::string(130, '-') + "\n" + kWorkedLine + "\n");
    EXPECT_EQ(slurp(dir_ / "field.csv"),
              "\"sep=;\"\n"
              "ISO Timestamp;Sensor 01a2b3;Sensor 01a2b3;Sensor 01a2b3;Sensor 01a2b3;"
              "Sensor 00fe01;Sensor 00fe01;Sensor 00fe01;Sensor 00fe01\n"
              "YYYY-MM-DD HH:MM:SS;Counts;Permittivity;Water Content;Temperature;"
              "Counts;Permittivity;Water Content;Temperature\n" +
                  kWorkedRow + "\n");
    EXPECT_TRUE(notices_.seen.empty());
}

// The notices that tell something new; updates only change the figures.
std::vector<Notice> told(const std::vector<Notice>& notices) {
    std::vector<Notice> kept;
    std::copy_if(notices.begin(), notices.end(), std::back_inserter(kept),
                 [](const Notice& n) { return !n.update; });
    return kept;
}

// Makes writes to files of this process fail (EFBIG) beyond a size, and succeed again.
class FileSizeLimit {
  public:
    FileSizeLimit() : old_handler_(std::signal(SIGXFSZ, SIG_IGN)) {
        getrlimit(RLIMIT_FSIZE, &saved_);
    }
    ~FileSizeLimit() {
        lift();
        std::signal(SIGXFSZ, old_handler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    void limit_to(std::uintmax_t bytes) {
        rlimit limit = saved_;
        limit.rlim_cur = static_cast<rlim_t>(bytes);
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    void lift() { setrlimit(RLIMIT_FSIZE, &saved_); }

  private:
    rlimit saved_{};
    void (*old_handler_)(int);
};

// Cycle k of a session, stamped 14:07:k so that every line of the file is told apart.
CycleRecord cycle(int k) {
    CycleRecord r = worked_example();
    r.cycle = static_cast<std::uint64_t>(k);
    r.local.minute = 7 + k / 60;
    r.local.second = k % 60;
    return r;
}

// A file that refuses every write: the failure is told once with its reason, time and the
// lines that wait, then only updated; at the end the lines still waiting are said to be lost.
TEST_F(LogObservers, FailedWritesAreToldOnceAndLinesLostAtTheEndAreToo) {
    const logging_test::UnwritableFile full(dir_ / "full.txt");
    ASSERT_TRUE(full.ready());
    TextLogObserver text(notices_);
    text.attach(open(dir_ / "full.txt"));
    run(text);
    const std::string path = (dir_ / "full.txt").string();
    const std::string reason = logging_test::UnwritableFile::kReason;
    ASSERT_EQ(notices_.seen.size(), 3u);  // the headers, the cycle's line, the end
    EXPECT_EQ(notices_.seen[0].kind, NoticeKind::WriteFailed);
    EXPECT_FALSE(notices_.seen[0].update);
    EXPECT_EQ(notices_.seen[0].text, "Writing the log failed: " + path + ": " + reason +
                                         " (since 14:07:09); 3 lines wait");
    EXPECT_EQ(notices_.seen[0].when, ReadWallClock().utc);
    EXPECT_EQ(notices_.seen[1].kind, NoticeKind::WriteFailed);
    EXPECT_TRUE(notices_.seen[1].update);
    ASSERT_TRUE(notices_.seen[1].file);
    const LogFileStatus& status = *notices_.seen[1].file;
    EXPECT_EQ(status.output, LogFileStatus::Output::Text);
    EXPECT_EQ(status.path, path);
    EXPECT_EQ(status.reason, reason);
    EXPECT_EQ(status.failing_since, ReadWallClock().utc);
    EXPECT_EQ(status.lines_waiting, 4u);
    EXPECT_EQ(notices_.seen[2].kind, NoticeKind::LinesDropped);
    EXPECT_FALSE(notices_.seen[2].update);
    EXPECT_EQ(notices_.seen[2].text, "4 lines could not be written to " + path +
                                         " before the session ended and are lost (" + reason + ")");
    EXPECT_EQ(notices_.seen[2].file->lines_dropped, 4u);
    EXPECT_EQ(notices_.seen[2].file->lines_waiting, 0u);
}

// Lines that could not be written wait and go out first, in order, as soon as a write
// succeeds: the file ends up complete. A later failure is told anew.
TEST_F(LogObservers, WaitingLinesGoOutFirstWhenWritingWorksAgain) {
    const fs::path path = dir_ / "field.txt";
    TextLogObserver text(notices_);
    CsvLogObserver csv(notices_);
    text.attach(open(path));
    csv.attach(open(dir_ / "field.csv"));
    SessionInfo info;
    info.display_header = display_header(std::vector<int>{kFirst, kSecond});
    info.csv_header = csv_header(std::vector<int>{kFirst, kSecond});
    FileSizeLimit limit;
    limit.limit_to(0);  // not even the header lines fit
    text.session_started(info);
    csv.session_started(info);
    std::string expected_text = info.display_header[0] + "\n" + info.display_header[1] + "\n" +
                                info.display_header[2] + "\n";
    std::string expected_csv =
        info.csv_header[0] + "\n" + info.csv_header[1] + "\n" + info.csv_header[2] + "\n";
    const auto add = [&](int k) {
        text.cycle_finished(cycle(k));
        csv.cycle_finished(cycle(k));
        expected_text += display_data_line(cycle(k)) + "\n";
        expected_csv += csv_data_row(cycle(k)) + "\n";
    };
    add(1);
    add(2);
    EXPECT_EQ(slurp(path), "");
    EXPECT_EQ(text.lines_waiting(), 5u);
    limit.lift();
    add(3);
    EXPECT_EQ(slurp(path), expected_text);
    EXPECT_EQ(slurp(dir_ / "field.csv"), expected_csv);
    EXPECT_EQ(text.lines_waiting(), 0u);
    limit.limit_to(fs::file_size(path));
    add(4);
    add(5);
    limit.lift();
    text.session_ended({5, {}});
    csv.session_ended({5, {}});
    EXPECT_EQ(slurp(path), expected_text);
    EXPECT_EQ(slurp(dir_ / "field.csv"), expected_csv);

    std::vector<std::pair<NoticeKind, std::string>> text_notices;
    for (const Notice& n : told(notices_.seen)) {
        ASSERT_TRUE(n.file);
        if (n.file->output == LogFileStatus::Output::Text) {
            text_notices.emplace_back(n.kind, n.text);
        }
    }
    const std::string failed =
        "Writing the log failed: " + path.string() + ": File too large (since 14:07:09); ";
    EXPECT_EQ(text_notices,
              (std::vector<std::pair<NoticeKind, std::string>>{
                  {NoticeKind::WriteFailed, failed + "3 lines wait"},
                  {NoticeKind::WriteRecovered, "Writing the log works again: " + path.string() +
                                                   "; 5 lines that waited written"},
                  {NoticeKind::WriteFailed, failed + "1 line waits"},
                  {NoticeKind::WriteRecovered, "Writing the log works again: " + path.string() +
                                                   "; 2 lines that waited written"}}));
}

// Past 10,000 waiting lines the oldest data lines are dropped, never the header lines, and
// never silently: the first drop is told, later ones update it, the recovery sums them up.
TEST_F(LogObservers, PastTheBoundTheOldestLinesAreDroppedAndCounted) {
    const fs::path path = dir_ / "field.txt";
    TextLogObserver text(notices_);
    text.attach(open(path));
    SessionInfo info;
    info.display_header = display_header(std::vector<int>{kFirst, kSecond});
    FileSizeLimit limit;
    limit.limit_to(0);
    text.session_started(info);
    const int cycles = static_cast<int>(LogFileObserver::kMaxWaitingLines) + 7;
    for (int k = 1; k <= cycles; ++k) {
        text.cycle_finished(cycle(k));
    }
    // 3 header lines and 10,007 data lines for 10,000 places: the 10 oldest data lines go.
    EXPECT_EQ(text.lines_waiting(), LogFileObserver::kMaxWaitingLines);
    std::vector<Notice> drops;
    std::copy_if(notices_.seen.begin(), notices_.seen.end(), std::back_inserter(drops),
                 [](const Notice& n) { return n.kind == NoticeKind::LinesDropped; });
    ASSERT_EQ(drops.size(), 10u);
    EXPECT_FALSE(drops.front().update);
    EXPECT_TRUE(drops.back().update);
    EXPECT_EQ(drops.back().file->lines_dropped, 10u);
    EXPECT_EQ(drops.back().text, "Writing the log failed: " + path.string() +
                                     ": File too large (since 14:07:09); 10000 lines wait, the "
                                     "oldest 10 dropped");
    limit.lift();
    text.cycle_finished(cycle(cycles + 1));
    const Notice& recovered = notices_.seen.back();
    EXPECT_EQ(recovered.kind, NoticeKind::WriteRecovered);
    EXPECT_EQ(recovered.text, "Writing the log works again: " + path.string() +
                                  "; 10000 lines that waited written; 10 lines lost while it "
                                  "failed");
    text.session_ended({0, {}});

    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    ASSERT_EQ(lines.size(), LogFileObserver::kMaxWaitingLines + 1);
    EXPECT_EQ(lines[0], info.display_header[0]);
    EXPECT_EQ(lines[3], display_data_line(cycle(11)));
    EXPECT_EQ(lines.back(), display_data_line(cycle(cycles + 1)));
}

TEST(DatedLogNames, MadeAndReadBack) {
    struct Case {
        std::string entry;
        LogDate date;
        int sequence;
        std::string dated;
    };
    const std::vector<Case> cases{
        {"/data/field.txt", {2026, 3, 5}, 1, "/data/field.2026-03-05.txt"},
        {"/data/field.csv", {2026, 3, 5}, 1, "/data/field.2026-03-05.csv"},
        {"field.txt", {2026, 12, 31}, 2, "field.2026-12-31-2.txt"},
        {"/data/run.1/data", {999, 1, 9}, 14, "/data/run.1/data.0999-01-09-14"},
        {"/data/field.text", {2026, 3, 5}, 1, "/data/field.2026-03-05.text"},
        {"/data/.hidden", {2026, 3, 5}, 1, "/data/.hidden.2026-03-05"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dated);
        EXPECT_EQ(dated_log_path(c.entry, c.date, c.sequence), c.dated);
        const auto back = parse_dated_log_name(c.entry, fs::path(c.dated).filename().string());
        ASSERT_TRUE(back);
        EXPECT_EQ(back->date, c.date);
        EXPECT_EQ(back->sequence, c.sequence);
    }
    for (const char* other :
         {"field.txt", "field.2026-03-05.csv", "field.2026-3-05.txt", "field.2026-02-30.txt",
          "field.2026-03-05-1.txt", "field.2026-03-05-02.txt", "field.2026-03-05_140709.txt",
          "field.2026-03-05-x.txt", "xfield.2026-03-05.txt", "field.2026-03-05.txt.bak",
          "field2026-03-05.txt"}) {
        EXPECT_FALSE(parse_dated_log_name("/data/field.txt", other)) << other;
    }
}

}  // namespace
