// Rotation of the log files in a running session, with the wall clock moved by its seam: the
// pair turns over at the cycle boundary across midnight (also while a cycle runs at
// midnight), after a clock set back, and by size; every new file starts with its header
// lines, no cycle is lost or doubled, nothing is ever overwritten, and retention deletes only
// our own old dated logs.
#include <gtest/gtest.h>

#include <mutex>

#include "core_session_fixture.h"
#include "logging/record_format.h"

namespace {

using namespace core_test;

// A wall clock the test sets; the cycles read it on the timer's thread and on the test's.
class SetClock {
  public:
    explicit SetClock(WallClockReading start) : now_(start) {
        SetWallClockForTesting([this] {
            const std::lock_guard lock(mutex_);
            return now_;
        });
    }
    void set(WallClockReading r) {
        const std::lock_guard lock(mutex_);
        now_ = r;
    }

  private:
    std::mutex mutex_;
    WallClockReading now_;
};

// Moves the clock on when the cycle's first query starts: a cycle running at that moment.
class ClockMoverOnQuery final : public SessionObserver {
  public:
    explicit ClockMoverOnQuery(SetClock& clock) : clock_(clock) {}
    void arm(WallClockReading to) {
        const std::lock_guard lock(mutex_);
        to_ = to;
        armed_ = true;
    }
    void query_started(const QueryStart&) override {
        const std::lock_guard lock(mutex_);
        if (armed_) {
            clock_.set(to_);
            armed_ = false;
        }
    }

  private:
    SetClock& clock_;
    std::mutex mutex_;
    WallClockReading to_{};
    bool armed_ = false;
};

std::vector<std::string> lines_of(const fs::path& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

class Rotation : public CoreSession {
  protected:
    // The data lines' time stamps of a pair, after checking that both files start with the
    // header lines of one good sensor and hold the same cycles.
    std::vector<std::string> stamps_of_pair(const std::string& name) {
        const std::vector<int> addresses{kGood};
        const auto text = lines_of(dir_ / (name + ".txt"));
        const auto csv = lines_of(dir_ / (name + ".csv"));
        const auto text_header = display_header(addresses);
        const auto csv_header_lines = csv_header(addresses);
        EXPECT_GE(text.size(), 3u) << name;
        EXPECT_GE(csv.size(), 3u) << name;
        if (text.size() < 3 || csv.size() < 3) {
            return {};
        }
        EXPECT_EQ(std::vector<std::string>(text.begin(), text.begin() + 3),
                  std::vector<std::string>(text_header.begin(), text_header.end()))
            << name;
        EXPECT_EQ(std::vector<std::string>(csv.begin(), csv.begin() + 3),
                  std::vector<std::string>(csv_header_lines.begin(), csv_header_lines.end()))
            << name;
        EXPECT_EQ(text.size(), csv.size()) << name;
        std::vector<std::string> stamps;
        for (std::size_t i = 3; i < csv.size(); ++i) {
            stamps.push_back(csv[i].substr(0, 19));
            if (i < text.size()) {
                EXPECT_EQ(text[i].substr(2, 19), stamps.back()) << name;
            }
        }
        return stamps;
    }
    std::vector<std::string> rotation_texts() {
        std::vector<std::string> texts;
        for (const Notice& n : recorder_.notices()) {
            if (n.kind == NoticeKind::FilesRotated) {
                texts.push_back(n.text);
            }
        }
        return texts;
    }
    FileRules daily() const {
        FileRules rules;
        rules.rotation = FileRules::Rotation::Daily;
        return rules;
    }
};

// Across midnight: the cycle that began before it stays with its day, even though it ends
// after it; the next cycle opens the new day's pair with its header lines. A file that is
// not ours under the entry's own name is never touched: rotation writes only dated names.
TEST_F(Rotation, DailyPairsTurnOverAtTheCycleBoundaryAcrossMidnight) {
    bus({kGood});
    std::ofstream(dir_ / "field.txt") << "precious, not a log\n";
    SetClock clock({2026, 3, 5, 23, 59, 50});
    ClockMoverOnQuery mover(clock);
    Session& session = this->session({kGood});
    ASSERT_TRUE(session.add_observer(mover));
    const StartResult started = session.start(config(3600, daily()));
    ASSERT_TRUE(started.started) << (started.refusal ? started.refusal->text : "");
    ASSERT_TRUE(recorder_.wait_for("cycle_finished"));
    SetAsyncTimerAttribute(timer_->id(), TIMER_ATTR_ENABLED, 0);
    WaitForAsyncTimerCallback(timer_->id());

    const std::vector<WallClockReading> ticks{{2026, 3, 5, 23, 59, 55},
                                              {2026, 3, 5, 23, 59, 59},  // runs at midnight
                                              {2026, 3, 6, 0, 0, 5},
                                              {2026, 3, 6, 0, 0, 10}};
    for (const WallClockReading& t : ticks) {
        clock.set(t);
        if (t.second == 59) {
            mover.arm({2026, 3, 6, 0, 0, 0});
        }
        session.tick();
    }
    session.stop();

    EXPECT_EQ(recorder_.info().text_log_path, (dir_ / "field.2026-03-05.txt").string());
    EXPECT_EQ(stamps_of_pair("field.2026-03-05"),
              (std::vector<std::string>{"2026-03-05 23:59:50", "2026-03-05 23:59:55",
                                        "2026-03-05 23:59:59"}));
    EXPECT_EQ(stamps_of_pair("field.2026-03-06"),
              (std::vector<std::string>{"2026-03-06 00:00:05", "2026-03-06 00:00:10"}));
    EXPECT_EQ(rotation_texts(), std::vector<std::string>{
                                    "New log files: " + (dir_ / "field.2026-03-06.txt").string() +
                                    " and " + (dir_ / "field.2026-03-06.csv").string()});
    EXPECT_EQ(slurp(dir_ / "field.txt"), "precious, not a log\n");
    EXPECT_FALSE(fs::exists(dir_ / "field.csv"));
}

// A clock set back to a day that has files already, and forward again: each time a new pair
// under the next free number; what the earlier files hold stays as it was.
TEST_F(Rotation, AClockSetBackNeverReopensOrOverwritesAFile) {
    bus({kGood});
    std::ofstream(dir_ / "field.2026-03-05.txt") << "precious\n";
    SetClock clock({2026, 3, 6, 0, 0, 5});
    Session& session = this->session({kGood});
    const StartResult started = session.start(config(3600, daily()));
    ASSERT_TRUE(started.started) << (started.refusal ? started.refusal->text : "");
    ASSERT_TRUE(recorder_.wait_for("cycle_finished"));
    SetAsyncTimerAttribute(timer_->id(), TIMER_ATTR_ENABLED, 0);
    WaitForAsyncTimerCallback(timer_->id());
    clock.set({2026, 3, 5, 23, 59, 58});
    session.tick();
    clock.set({2026, 3, 6, 0, 0, 12});
    session.tick();
    session.stop();

    EXPECT_EQ(slurp(dir_ / "field.2026-03-05.txt"), "precious\n");
    EXPECT_FALSE(fs::exists(dir_ / "field.2026-03-05.csv"));
    EXPECT_EQ(stamps_of_pair("field.2026-03-06"), std::vector<std::string>{"2026-03-06 00:00:05"});
    EXPECT_EQ(stamps_of_pair("field.2026-03-05-2"),
              std::vector<std::string>{"2026-03-05 23:59:58"});
    EXPECT_EQ(stamps_of_pair("field.2026-03-06-2"),
              std::vector<std::string>{"2026-03-06 00:00:12"});
}

// By size: a new pair once the text log has reached the size; the files of one day are
// numbered, and each holds whole cycles from its header on.
TEST_F(Rotation, BySizeOnceTheTextLogHasReachedIt) {
    bus({kGood});
    SetClock clock({2024, 3, 5, 14, 7, 0});
    Session& session = this->session({kGood});
    FileRules rules;
    rules.rotation = FileRules::Rotation::Size;
    rules.rotate_bytes = 400;  // the header lines take 231 bytes, a data line 77
    ASSERT_TRUE(session.start(config(3600, rules)).started);
    ASSERT_TRUE(recorder_.wait_for("cycle_finished"));
    SetAsyncTimerAttribute(timer_->id(), TIMER_ATTR_ENABLED, 0);
    WaitForAsyncTimerCallback(timer_->id());
    for (int s = 1; s < 7; ++s) {
        clock.set({2024, 3, 5, 14, 7, s});
        session.tick();
    }
    session.stop();

    EXPECT_EQ(stamps_of_pair("field.2024-03-05"),
              (std::vector<std::string>{"2024-03-05 14:07:00", "2024-03-05 14:07:01",
                                        "2024-03-05 14:07:02"}));
    EXPECT_EQ(stamps_of_pair("field.2024-03-05-2"),
              (std::vector<std::string>{"2024-03-05 14:07:03", "2024-03-05 14:07:04",
                                        "2024-03-05 14:07:05"}));
    EXPECT_EQ(stamps_of_pair("field.2024-03-05-3"),
              std::vector<std::string>{"2024-03-05 14:07:06"});
    EXPECT_EQ(fs::file_size(dir_ / "field.2024-03-05.txt"), 231u + 3 * 77u);
    EXPECT_EQ(rotation_texts().size(), 2u);
}

// Retention of three days at a start on 5 March: our own dated logs of 2 March and before
// go; a foreign file, a symlink, a folder, another log's files, a kept earlier log and the
// logs of the last three days stay.
TEST_F(Rotation, RetentionDeletesOnlyOurOwnExpiredDatedLogs) {
    bus({kGood});
    const auto header_of = [](const char* name) {
        const std::vector<int> one{kGood};
        const auto lines =
            std::string_view(name).ends_with(".csv") ? csv_header(one) : display_header(one);
        return lines[0] + "\n" + lines[1] + "\n" + lines[2] + "\n";
    };
    const std::vector<const char*> expired{"field.2026-02-20.txt", "field.2026-02-20.csv",
                                           "field.2026-03-02-2.txt", "field.2025-12-31.csv"};
    const std::vector<const char*> kept_ours{"field.2026-03-03.txt", "field.2026-03-04.csv",
                                             "other.2026-01-01.txt", "field.2026-02-10_120000.txt",
                                             "field.txt"};
    for (const char* name : expired) {
        std::ofstream(dir_ / name) << header_of(name);
    }
    for (const char* name : kept_ours) {
        std::ofstream(dir_ / name) << header_of(name);
    }
    std::ofstream(dir_ / "field.2026-02-19.txt") << "precious\n";
    fs::create_directory(dir_ / "elsewhere");
    std::ofstream(dir_ / "elsewhere/target.txt") << header_of("target.txt");
    fs::create_symlink(dir_ / "elsewhere/target.txt", dir_ / "field.2026-02-18.txt");
    fs::create_directory(dir_ / "field.2026-02-17.txt");

    SetClock clock({2026, 3, 5, 8, 0, 0});
    Session& session = this->session({kGood});
    FileRules rules = daily();
    rules.keep_days = 3;
    ASSERT_TRUE(session.start(config(3600, rules)).started);
    ASSERT_TRUE(recorder_.wait_for("cycle_finished"));
    session.stop();

    for (const char* name : expired) {
        EXPECT_FALSE(fs::exists(fs::symlink_status(dir_ / name))) << name;
    }
    for (const char* name : kept_ours) {
        EXPECT_TRUE(fs::exists(dir_ / name)) << name;
    }
    EXPECT_EQ(slurp(dir_ / "field.2026-02-19.txt"), "precious\n");
    EXPECT_TRUE(fs::is_symlink(dir_ / "field.2026-02-18.txt"));
    EXPECT_TRUE(fs::exists(dir_ / "elsewhere/target.txt"));
    EXPECT_TRUE(fs::is_directory(dir_ / "field.2026-02-17.txt"));
    EXPECT_EQ(stamps_of_pair("field.2026-03-05"), std::vector<std::string>{"2026-03-05 08:00:00"});
    EXPECT_EQ(rotation_texts(),
              std::vector<std::string>{"Log files: 4 dated logs older than 3 days deleted"});
}

}  // namespace
