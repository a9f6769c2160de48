// Disk full: the logs live on storage that fills up during a session. The failure must show on
// the main panel (the log-write error line, with the number of lines that wait), no line may
// be torn, no line may be lost: once there is room again the waiting lines go out first, and
// both files end up complete, line for line with the display. A small tmpfs is used where
// mounting is allowed (root); else a file-size limit (RLIMIT_FSIZE with SIGXFSZ ignored) makes
// the writes fail the same way.
//
// The measurement core on the same small tmpfs, as a service runs it: the disk guard warns
// before writes fail, once per crossing, and lines of two days that waited through midnight
// go to the files of their own day.
#include <gtest/gtest.h>

#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <vector>

#include "app/panel_ids.h"
#include "bus/bus.h"
#include "cycle_clock.h"
#include "log_files.h"
#include "logging/disk_guard.h"
#include "logging/session.h"
#include "platform/rs232.h"
#include "platform/ui.h"
#include "session_rig.h"

namespace veldra::reliability {
namespace {

constexpr std::uint32_t kSensors[] = {0x0A1B2C, 0x00FE01};

// A mount namespace of the process's own, so a tmpfs mounted here is seen by nobody else and
// vanishes with the process however it ends. It must be made before any thread exists, so it
// is made while static objects are constructed, before main.
bool private_mount_namespace() {
    return unshare(CLONE_NEWNS) == 0 &&
           mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}
const bool kMayMount = private_mount_namespace();

// Storage that can be made full and then given room again.
class FillableStorage {
  public:
    virtual ~FillableStorage() = default;
    virtual std::filesystem::path folder() const = 0;
    virtual void fill() = 0;
    virtual void make_room() = 0;
    virtual std::string kind() const = 0;
};

class SmallTmpfs : public FillableStorage {
  public:
    SmallTmpfs(std::filesystem::path mount_point, const char* size)
        : mount_point_(std::move(mount_point)) {
        std::filesystem::create_directories(mount_point_);
        const std::string options = std::string("size=") + size + ",mode=0700";
        mounted_ = kMayMount && mount("veldra-full", mount_point_.c_str(), "tmpfs",
                                      MS_NOSUID | MS_NODEV, options.c_str()) == 0;
    }
    ~SmallTmpfs() override {
        if (mounted_) {
            umount2(mount_point_.c_str(), MNT_DETACH);
        }
    }
    bool mounted() const { return mounted_; }
    std::filesystem::path folder() const override { return mount_point_; }
    // Leaves about `left` bytes free (in whole pages, as tmpfs counts).
    void fill_to(std::uint64_t left) {
        const auto free = core::free_bytes(mount_point_.string());
        ASSERT_TRUE(free);
        std::ofstream filler(mount_point_ / "filler", std::ios::binary | std::ios::app);
        const std::vector<char> block(4096, 'f');
        for (std::uint64_t added = 0; added + left < *free; added += block.size()) {
            filler.write(block.data(), static_cast<std::streamsize>(block.size()));
        }
    }
    void fill() override {
        // Whole pages until the file system refuses, then single bytes for the last page.
        std::ofstream filler(mount_point_ / "filler", std::ios::binary | std::ios::app);
        const std::vector<char> block(4096, 'f');
        while (filler.write(block.data(), static_cast<std::streamsize>(block.size()))) {
            filler.flush();
        }
        filler.clear();
        while (filler.put('f') && filler.flush()) {
        }
    }
    void make_room() override { std::filesystem::remove(mount_point_ / "filler"); }
    std::string kind() const override { return "tmpfs"; }

  private:
    std::filesystem::path mount_point_;
    bool mounted_ = false;
};

class FileSizeLimit : public FillableStorage {
  public:
    FileSizeLimit(std::filesystem::path folder, std::filesystem::path log)
        : folder_(std::move(folder)), log_(std::move(log)) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails with EFBIG
    }
    ~FileSizeLimit() override { setrlimit(RLIMIT_FSIZE, &saved_); }
    std::filesystem::path folder() const override { return folder_; }
    void fill() override {
        // Room for one more line at most, so a line may have to be cut.
        rlimit limit = saved_;
        limit.rlim_cur = static_cast<rlim_t>(std::filesystem::file_size(log_) + 100);
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    void make_room() override { setrlimit(RLIMIT_FSIZE, &saved_); }
    std::string kind() const override { return "RLIMIT_FSIZE"; }

  private:
    std::filesystem::path folder_;
    std::filesystem::path log_;
    rlimit saved_{};
};

// The data lines of a log, after checking that none is torn.
std::vector<std::string> data_lines(const std::filesystem::path& path, bool csv,
                                    std::size_t sensors) {
    const auto file = read_file_lines(path);
    EXPECT_TRUE(file.torn_tail.empty()) << path << " ends in a torn line: " << file.torn_tail;
    std::vector<std::string> lines;
    for (std::size_t i = 3; i < file.lines.size(); ++i) {
        const auto row = csv ? parse_csv_row(file.lines[i], sensors)
                             : parse_display_line(file.lines[i], sensors);
        EXPECT_TRUE(row) << path << " line " << i + 1 << " is torn: " << file.lines[i];
        lines.push_back(file.lines[i]);
    }
    return lines;
}

std::vector<std::string> display_data_lines() {
    int count = 0;
    GetNumTextBoxLines(main_panel, log_view, count);
    std::vector<std::string> lines;
    for (int i = 3; i < count; ++i) {
        std::string line;
        GetTextBoxLine(main_panel, log_view, i, line);
        if (!line.empty()) {
            lines.push_back(line);
        }
    }
    return lines;
}

// How many lines the error line says wait: "12 lines wait: ...", 0 when it says none.
long waiting_shown(const std::string& text) {
    const auto space = text.find(' ');
    if (space == std::string::npos || !(text.compare(space, 11, " lines wait") == 0 ||
                                        text.compare(space, 11, " line waits") == 0)) {
        return 0;
    }
    return std::strtol(text.c_str(), nullptr, 10);
}

// options.json in the working folder, where the window reads it at every start, for the
// life of one test: a small file system is always under the disk guard's default, and its
// warning would stand in for the failures these tests watch.
class ScopedOptionsFile {
  public:
    explicit ScopedOptionsFile(const std::string& text) {
        if (std::filesystem::exists(kPath)) {
            std::ifstream in(kPath);
            earlier_ = std::string(std::istreambuf_iterator<char>(in), {});
        }
        std::ofstream(kPath) << text;
    }
    ~ScopedOptionsFile() {
        if (earlier_) {
            std::ofstream(kPath) << *earlier_;
        } else {
            std::filesystem::remove(kPath);
        }
    }
    ScopedOptionsFile(const ScopedOptionsFile&) = delete;
    ScopedOptionsFile& operator=(const ScopedOptionsFile&) = delete;

  private:
    static constexpr const char* kPath = "options.json";
    std::optional<std::string> earlier_;
};

// Runs a window session whose logs fill the storage, then gives it room again. Each cycle
// has a time stamp of its own (one second per cycle), so a lost or doubled line shows.
void fill_and_recover(SessionRig& rig, FillableStorage& storage) {
    ::testing::Test::RecordProperty("storage", storage.kind());
    const ScopedOptionsFile no_disk_guard(R"({"disk_guard_mb": 0})");
    const auto text_log = storage.folder() / "log.txt";
    const auto csv_log = storage.folder() / "log.csv";
    std::atomic<long> cycle{0};
    SetWallClockForTesting([&cycle] { return reading_for_cycle(cycle.load()); });
    long cycles = 0;
    const auto run_cycle = [&] {
        cycle = ++cycles;
        rig.run_cycle();
    };

    rig.set_sensor_list({std::begin(kSensors), std::end(kSensors)});
    rig.set_interval(6);
    rig.set_log_file(text_log);
    rig.press_start_stop();
    ASSERT_TRUE(rig.logging());

    for (int i = 0; i < 5; ++i) {
        run_cycle();
    }
    EXPECT_EQ(rig.log_error_text(), "") << "an error before the storage was full";

    storage.fill();
    int cycles_while_full = 0;
    while (rig.log_error_text().empty() && cycles_while_full < 200) {
        run_cycle();
        ++cycles_while_full;
    }
    ASSERT_FALSE(rig.log_error_text().empty())
        << "no write failure shown on a full " << storage.kind();
    const long waiting_at_first = waiting_shown(rig.log_error_text());
    EXPECT_GT(waiting_at_first, 0) << rig.log_error_text();
    for (int i = 0; i < 5; ++i) {
        run_cycle();
    }
    EXPECT_TRUE(rig.logging()) << "the session ended on a full disk";
    EXPECT_EQ(waiting_shown(rig.log_error_text()), waiting_at_first + 5) << rig.log_error_text();
    // While full, only whole lines are in the files, and some are missing.
    EXPECT_LT(data_lines(text_log, false, std::size(kSensors)).size(),
              static_cast<std::size_t>(cycles));

    storage.make_room();
    for (int i = 0; i < 5; ++i) {
        run_cycle();
    }
    EXPECT_EQ(waiting_shown(rig.log_error_text()), 0) << rig.log_error_text();
    EXPECT_NE(rig.log_error_text().find("Writing the log works again"), std::string::npos)
        << rig.log_error_text();
    rig.press_start_stop();

    // Complete, line for line with the display, each cycle once and in order.
    const auto shown = display_data_lines();
    const auto text = data_lines(text_log, false, std::size(kSensors));
    const auto csv = data_lines(csv_log, true, std::size(kSensors));
    ASSERT_EQ(shown.size(), static_cast<std::size_t>(cycles));
    EXPECT_EQ(text, shown);
    ASSERT_EQ(csv.size(), shown.size());
    for (std::size_t i = 0; i < csv.size(); ++i) {
        EXPECT_EQ(csv[i].substr(0, 19), timestamp_for_cycle(static_cast<long>(i) + 1));
        EXPECT_EQ(shown[i].substr(2, 19), csv[i].substr(0, 19));
    }
    SetWallClockForTesting({});
}

sim::Options two_sensors() {
    sim::Options options;
    options.sensors.assign(std::begin(kSensors), std::end(kSensors));
    return options;
}

void fast_bus() {
    SetDelayScaleForTesting(0.001);
    set_reply_timeout_for_testing(0.2);
}

TEST(DiskFull, OnAFullTmpfs) {
    SessionRig rig(two_sensors(), TimerMode::Manual);
    fast_bus();
    SmallTmpfs tmpfs(rig.dir() / "small", "512k");
    if (!tmpfs.mounted()) {
        GTEST_SKIP() << "mounting a tmpfs is not allowed here; the file-size limit case still runs";
    }
    fill_and_recover(rig, tmpfs);
}

TEST(DiskFull, AtTheFileSizeLimit) {
    SessionRig rig(two_sensors(), TimerMode::Manual);
    fast_bus();
    FileSizeLimit limit(rig.dir(), rig.dir() / "log.txt");
    fill_and_recover(rig, limit);
}

// Records the notices of a core session.
class NoticeLog final : public core::SessionObserver {
  public:
    void notice(const core::Notice& n) override {
        const std::lock_guard lock(mutex_);
        notices_.push_back(n);
    }
    // The kinds told since the last call, updates left out.
    std::vector<core::NoticeKind> take_told() {
        const std::lock_guard lock(mutex_);
        std::vector<core::NoticeKind> kinds;
        for (const core::Notice& n : notices_) {
            if (!n.update) {
                kinds.push_back(n.kind);
            }
        }
        notices_.clear();
        return kinds;
    }

  private:
    std::mutex mutex_;
    std::vector<core::Notice> notices_;
};

// The core with daily files and the disk guard on a 1 MiB tmpfs: the warning comes once when
// the free space falls under the guard, while lines are still written; then the disk is full
// across midnight; when room returns, the waiting lines of each day are in that day's files
// and the guard says the space is back.
TEST(DiskFull, GuardWarnsBeforeWritesFailAndWaitingLinesKeepTheirDay) {
    using core::NoticeKind;
    TempDir dir;
    sim::Options options = two_sensors();
    options.link_path = (dir.path() / "sensor-bus").string();
    sim::SensorSimulator bus(std::move(options));
    constexpr int kPort = 9;
    std::ofstream(dir.path() / "comports.txt") << kPort << ' ' << bus.device_path() << '\n';
    SetComPortMapFile((dir.path() / "comports.txt").string());
    fast_bus();
    SmallTmpfs tmpfs(dir.path() / "small", "1m");
    if (!tmpfs.mounted()) {
        SetComPortMapFile("");
        GTEST_SKIP() << "mounting a tmpfs is not allowed here";
    }
    WallClockReading now{2026, 3, 5, 23, 59, 0};
    std::mutex clock_mutex;
    SetWallClockForTesting([&] {
        const std::lock_guard lock(clock_mutex);
        return now;
    });
    const auto tick_at = [&](core::Session& session, WallClockReading at) {
        {
            const std::lock_guard lock(clock_mutex);
            now = at;
        }
        session.tick();
    };

    core::FixedSensorList sensors({std::begin(kSensors), std::end(kSensors)});
    core::Session session(sensors);
    NoticeLog notices;
    session.add_observer(notices);
    core::FileRules rules;
    rules.rotation = core::FileRules::Rotation::Daily;
    rules.disk_guard_bytes = 512 << 10;
    tmpfs.fill_to(700 << 10);
    // No timer: the test runs each cycle itself.
    const auto started =
        session.start({kPort, 6, (tmpfs.folder() / "log.txt").string(), -1, rules});
    ASSERT_TRUE(started.started) << (started.refusal ? started.refusal->text : "");
    tick_at(session, {2026, 3, 5, 23, 59, 10});
    EXPECT_EQ(notices.take_told(), std::vector<NoticeKind>{});

    tmpfs.fill_to(300 << 10);
    tick_at(session, {2026, 3, 5, 23, 59, 20});
    tick_at(session, {2026, 3, 5, 23, 59, 30});
    EXPECT_EQ(notices.take_told(), std::vector<NoticeKind>{NoticeKind::DiskLow});

    tmpfs.fill();
    tick_at(session, {2026, 3, 5, 23, 59, 40});
    tick_at(session, {2026, 3, 5, 23, 59, 50});
    tick_at(session, {2026, 3, 6, 0, 0, 0});
    tick_at(session, {2026, 3, 6, 0, 0, 10});
    const auto while_full = notices.take_told();
    EXPECT_EQ(std::count(while_full.begin(), while_full.end(), NoticeKind::WriteFailed), 2)
        << "one failure told per file";
    EXPECT_EQ(std::count(while_full.begin(), while_full.end(), NoticeKind::DiskLow), 0);

    tmpfs.make_room();
    tick_at(session, {2026, 3, 6, 0, 0, 20});
    const auto after = notices.take_told();
    EXPECT_EQ(std::count(after.begin(), after.end(), NoticeKind::DiskOk), 1);
    EXPECT_EQ(std::count(after.begin(), after.end(), NoticeKind::WriteRecovered), 2);
    session.stop();
    SetComPortMapFile("");
    SetWallClockForTesting({});

    const auto stamps = [](const std::vector<std::string>& lines, bool csv) {
        std::vector<std::string> s;
        for (const std::string& line : lines) {
            s.push_back(csv ? line.substr(0, 19) : line.substr(2, 19));
        }
        return s;
    };
    const std::vector<std::string> day5{"2026-03-05 23:59:10", "2026-03-05 23:59:20",
                                        "2026-03-05 23:59:30", "2026-03-05 23:59:40",
                                        "2026-03-05 23:59:50"};
    const std::vector<std::string> day6{"2026-03-06 00:00:00", "2026-03-06 00:00:10",
                                        "2026-03-06 00:00:20"};
    const auto folder = tmpfs.folder();
    EXPECT_EQ(stamps(data_lines(folder / "log.2026-03-05.txt", false, 2), false), day5);
    EXPECT_EQ(stamps(data_lines(folder / "log.2026-03-05.csv", true, 2), true), day5);
    EXPECT_EQ(stamps(data_lines(folder / "log.2026-03-06.txt", false, 2), false), day6);
    EXPECT_EQ(stamps(data_lines(folder / "log.2026-03-06.csv", true, 2), true), day6);
}

}  // namespace
}  // namespace veldra::reliability
