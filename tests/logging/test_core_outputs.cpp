// The measurement core's outputs without any window: a cycle record turned into the display
// line and the CSV row, the text and CSV log observers writing whole files from a session's
// events, their failure notices, and what the bus's results mean for a query.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "logging/log_observers.h"
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
    EXPECT_FALSE(text.file().is_open());
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

// A file that refuses writes: one notice that names the file, the reason and the time, not one
// per line.
TEST_F(LogObservers, FailedWritesAreReportedOnce) {
    const logging_test::UnwritableFile full(dir_ / "full.txt");
    ASSERT_TRUE(full.ready());
    TextLogObserver text(notices_);
    text.attach(open(dir_ / "full.txt"));
    run(text);
    ASSERT_EQ(notices_.seen.size(), 1u);
    EXPECT_EQ(notices_.seen[0].kind, NoticeKind::WriteFailed);
    EXPECT_EQ(notices_.seen[0].text, "Writing the log failed: " + (dir_ / "full.txt").string() +
                                         ": " + logging_test::UnwritableFile::kReason +
                                         " (since 14:07:09)");
    EXPECT_EQ(notices_.seen[0].when, ReadWallClock().utc);
}

// Writes that succeed again after a failure say so, and a later failure is reported anew.
// A file-size limit makes the writes fail and then succeed on the same open file.
TEST_F(LogObservers, RecoveryIsReported) {
    const fs::path path = dir_ / "field.txt";
    TextLogObserver text(notices_);
    text.attach(open(path));
    SessionInfo info;
    info.display_header = display_header(std::vector<int>{kFirst, kSecond});
    text.session_started(info);

    const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);  // a write past it fails with EFBIG
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const auto limit_to_now = [&] {
        rlimit limit = saved;
        limit.rlim_cur = static_cast<rlim_t>(fs::file_size(path));
        setrlimit(RLIMIT_FSIZE, &limit);
    };
    std::vector<NoticeKind> kinds;
    limit_to_now();
    text.cycle_finished(worked_example());
    text.cycle_finished(worked_example());
    setrlimit(RLIMIT_FSIZE, &saved);
    text.cycle_finished(worked_example());
    limit_to_now();
    text.cycle_finished(worked_example());
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, old_handler);

    for (const Notice& n : notices_.seen) {
        kinds.push_back(n.kind);
    }
    EXPECT_EQ(kinds, (std::vector<NoticeKind>{NoticeKind::WriteFailed, NoticeKind::WriteRecovered,
                                              NoticeKind::WriteFailed}));
    ASSERT_EQ(notices_.seen.size(), 3u);
    EXPECT_EQ(notices_.seen[1].text, "Writing the log works again: " + path.string());
    // The three header lines and the one line written between the failures, all whole.
    EXPECT_EQ(slurp(path).size(), 4u * 131u);
}

}  // namespace
