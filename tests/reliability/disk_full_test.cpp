// Disk full: the logs live on storage that fills up during a session. The failure must show on
// the main panel (the log-write error line), no line may be torn, and logging must go on as
// soon as there is room again. A small tmpfs is used where mounting is allowed (root); else
// a file-size limit (RLIMIT_FSIZE with SIGXFSZ ignored) makes the writes fail the same way.
#include <gtest/gtest.h>

#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>

#include <fstream>
#include <vector>

#include "bus/bus.h"
#include "log_files.h"
#include "platform/ui.h"
#include "session_rig.h"

namespace veldra::reliability {
namespace {

constexpr std::uint32_t kSensors[] = {0x0A1B2C, 0x00FE01};

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
    explicit SmallTmpfs(std::filesystem::path mount_point) : mount_point_(std::move(mount_point)) {
        std::filesystem::create_directories(mount_point_);
        mounted_ = mount("veldra-full", mount_point_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
                         "size=512k,mode=0700") == 0;
    }
    ~SmallTmpfs() override {
        if (mounted_) {
            umount2(mount_point_.c_str(), MNT_DETACH);
        }
    }
    bool mounted() const { return mounted_; }
    std::filesystem::path folder() const override { return mount_point_; }
    void fill() override {
        // Whole pages until the file system refuses, then single bytes for the last page.
        std::ofstream filler(mount_point_ / "filler", std::ios::binary);
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

void expect_whole_lines(const std::filesystem::path& path, bool csv, long& data_lines) {
    const auto file = read_file_lines(path);
    EXPECT_TRUE(file.torn_tail.empty()) << path << " ends in a torn line: " << file.torn_tail;
    data_lines = 0;
    for (std::size_t i = 3; i < file.lines.size(); ++i, ++data_lines) {
        const auto row = csv ? parse_csv_row(file.lines[i], std::size(kSensors))
                             : parse_display_line(file.lines[i], std::size(kSensors));
        EXPECT_TRUE(row) << path << " line " << i + 1 << " is torn: " << file.lines[i];
    }
}

// A mount namespace of the process's own, so a tmpfs mounted here is seen by nobody else and
// vanishes with the process however it ends. Must run before any thread is started.
bool private_mount_namespace() {
    return unshare(CLONE_NEWNS) == 0 &&
           mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

// Runs a session whose logs fill the storage, then gives it room again.
void fill_and_recover(SessionRig& rig, FillableStorage& storage) {
    ::testing::Test::RecordProperty("storage", storage.kind());
    const auto text_log = storage.folder() / "log.txt";
    const auto csv_log = storage.folder() / "log.csv";

    rig.set_sensor_list({std::begin(kSensors), std::end(kSensors)});
    rig.set_interval(6);
    rig.set_log_file(text_log);
    rig.press_start_stop();
    ASSERT_TRUE(rig.logging());

    for (int cycle = 0; cycle < 5; ++cycle) {
        rig.run_cycle();
    }
    EXPECT_EQ(rig.log_error_text(), "") << "an error before the storage was full";

    storage.fill();
    int cycles_while_full = 0;
    while (rig.log_error_text().empty() && cycles_while_full < 200) {
        rig.run_cycle();
        ++cycles_while_full;
    }
    ASSERT_FALSE(rig.log_error_text().empty())
        << "no write failure shown on a full " << storage.kind();
    for (int cycle = 0; cycle < 5; ++cycle) {
        rig.run_cycle();
        ++cycles_while_full;
    }
    EXPECT_TRUE(rig.logging()) << "the session ended on a full disk";

    long before_room = 0;
    long csv_before_room = 0;
    expect_whole_lines(text_log, false, before_room);
    expect_whole_lines(csv_log, true, csv_before_room);

    storage.make_room();
    for (int cycle = 0; cycle < 5; ++cycle) {
        rig.run_cycle();
    }
    rig.press_start_stop();

    long after_room = 0;
    long csv_after_room = 0;
    expect_whole_lines(text_log, false, after_room);
    expect_whole_lines(csv_log, true, csv_after_room);
    EXPECT_EQ(after_room, before_room + 5) << "logging did not go on once there was room";
    EXPECT_EQ(csv_after_room, csv_before_room + 5)
        << "CSV logging did not go on once there was room";
    EXPECT_LT(before_room, 5 + cycles_while_full) << "no line went missing while full";
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

// First in this file: the mount namespace must be made before any thread exists.
TEST(DiskFull, OnAFullTmpfs) {
    const bool may_mount = private_mount_namespace();
    SessionRig rig(two_sensors(), TimerMode::Manual);
    fast_bus();
    SmallTmpfs tmpfs(rig.dir() / "small");
    if (!may_mount || !tmpfs.mounted()) {
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

}  // namespace
}  // namespace veldra::reliability
