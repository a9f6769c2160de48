// The outbox on its own: seq numbers that grow per site across reopening, draining in order,
// ids never given twice, the size limit (nothing stored, the seq used up), and files it must
// not touch: another program's outbox, a file that is no database, another layout.
#include <gtest/gtest.h>

#include <sqlite3.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "export/outbox.h"
#include "support/broker.h"

namespace {

using namespace veldra::exporter;
using veldra::core::CycleRecord;
using veldra::core::QueryStatus;
namespace fs = std::filesystem;

CycleRecord record(std::size_t sensors) {
    CycleRecord r;
    r.local = {2026, 12, 10, 11, 22, 12};
    r.utc = std::chrono::system_clock::now();
    for (std::size_t i = 0; i < sensors; ++i) {
        auto& s = r.sensors.emplace_back();
        s.address = 0x100 + static_cast<int>(i);
        for (auto& q : s.queries) {
            q.status = QueryStatus::Received;
            q.value = 1.5;
        }
        s.queries[0].value = 12345;
    }
    return r;
}

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class OutboxTest : public ::testing::Test {
  protected:
    export_test::TempDir dir_;
    std::string path_ = (dir_.path() / "outbox.db").string();
};

TEST_F(OutboxTest, SeqGrowsPerSiteAcrossReopeningAndDrainsInOrder) {
    {
        Outbox writer(path_, Outbox::Role::Writer);
        ASSERT_TRUE(writer.ok()) << writer.error();
        EXPECT_EQ(writer.commit(record(2), "north", kMegabyte).seq, 1);
        EXPECT_EQ(writer.commit(record(2), "north", kMegabyte).seq, 2);
        EXPECT_EQ(writer.commit(record(2), "south", kMegabyte).seq, 1);
        EXPECT_EQ(writer.commit(record(0), "north", kMegabyte).kind,
                  CommitOutcome::Kind::NothingToStore);
        EXPECT_EQ(writer.waiting(), 6u);
    }
    Outbox writer(path_, Outbox::Role::Writer);
    ASSERT_TRUE(writer.ok()) << writer.error();
    const CommitOutcome third = writer.commit(record(2), "north", kMegabyte);
    EXPECT_EQ(third.kind, CommitOutcome::Kind::Stored);
    EXPECT_EQ(third.seq, 3);  // a cycle without sensors used no number
    EXPECT_EQ(third.waiting, 8u);

    Outbox drainer(path_, Outbox::Role::Drainer);
    ASSERT_TRUE(drainer.ok()) << drainer.error();
    const std::vector<OutboxEntry> all = drainer.fetch_after(0, 100);
    ASSERT_EQ(all.size(), 8u);
    std::vector<std::pair<std::string, std::int64_t>> order;
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (i > 0) {
            EXPECT_GT(all[i].id, all[i - 1].id);
        }
        order.emplace_back(all[i].site, all[i].seq);
    }
    EXPECT_EQ(order, (std::vector<std::pair<std::string, std::int64_t>>{{"north", 1},
                                                                        {"north", 1},
                                                                        {"north", 2},
                                                                        {"north", 2},
                                                                        {"south", 1},
                                                                        {"south", 1},
                                                                        {"north", 3},
                                                                        {"north", 3}}));
    EXPECT_EQ(all[0].values[0], 12345.0);
    EXPECT_EQ(all[0].values[3], 1.5);
    EXPECT_EQ(all[0].statuses[3], "ok");
    EXPECT_EQ(drainer.fetch_after(all[5].id, 100).size(), 2u);

    ASSERT_TRUE(drainer.remove_through(all[3].id, {"north", 2, "2026-12-10 11:22:12"}));
    EXPECT_EQ(drainer.waiting(), 4u);
    EXPECT_EQ(drainer.fetch_after(0, 100).front().id, all[4].id);
    const std::optional<Acknowledged> acked =
        Outbox(path_, Outbox::Role::Drainer).last_acknowledged();
    ASSERT_TRUE(acked);
    EXPECT_EQ(acked->seq, 2);
    EXPECT_EQ(acked->local, "2026-12-10 11:22:12");
}

TEST_F(OutboxTest, IdsAreNeverGivenTwiceEvenAfterTheOutboxRanEmpty) {
    Outbox writer(path_, Outbox::Role::Writer);
    Outbox drainer(path_, Outbox::Role::Drainer);
    writer.commit(record(3), "north", kMegabyte);
    const std::int64_t last = drainer.fetch_after(0, 10).back().id;
    ASSERT_TRUE(drainer.remove_through(last, {"north", 1, ""}));
    EXPECT_EQ(drainer.waiting(), 0u);
    writer.commit(record(1), "north", kMegabyte);
    // A drain that has sent everything up to `last` must see the new message.
    const std::vector<OutboxEntry> next = drainer.fetch_after(last, 10);
    ASSERT_EQ(next.size(), 1u);
    EXPECT_GT(next[0].id, last);
}

TEST_F(OutboxTest, AFullOutboxStoresNothingButUsesTheSeqSoReceiversSeeTheGap) {
    Outbox writer(path_, Outbox::Role::Writer);
    Outbox drainer(path_, Outbox::Role::Drainer);
    const std::uint64_t limit = 64 * 1024;
    std::int64_t seq = 0;
    CommitOutcome outcome;
    for (int i = 0; i < 10000; ++i) {
        outcome = writer.commit(record(4), "north", limit);
        ASSERT_EQ(outcome.seq, ++seq);
        if (outcome.kind != CommitOutcome::Kind::Stored) {
            break;
        }
    }
    ASSERT_EQ(outcome.kind, CommitOutcome::Kind::Full);
    EXPECT_GE(outcome.used_bytes, limit);
    const std::uint64_t waiting = writer.waiting();
    EXPECT_EQ(writer.commit(record(4), "north", limit).kind, CommitOutcome::Kind::Full);
    EXPECT_EQ(writer.waiting(), waiting);
    seq += 1;

    // The broker takes the waiting messages: room again, the numbers go on after the gap.
    const std::vector<OutboxEntry> all = drainer.fetch_after(0, 100000);
    ASSERT_EQ(all.size(), waiting);
    ASSERT_TRUE(drainer.remove_through(all.back().id, {"north", all.back().seq, ""}));
    const CommitOutcome after = writer.commit(record(4), "north", limit);
    EXPECT_EQ(after.kind, CommitOutcome::Kind::Stored);
    EXPECT_EQ(after.seq, seq + 1);
    EXPECT_EQ(after.seq - all.back().seq, 3);  // two cycles were never stored
}

TEST_F(OutboxTest, FilesThatAreNotOurOutboxAreRefusedAndLeftAlone) {
    {
        Outbox first(path_, Outbox::Role::Writer);
        ASSERT_TRUE(first.ok());
        Outbox second(path_, Outbox::Role::Writer);
        EXPECT_FALSE(second.ok());
        EXPECT_EQ(second.error(), "the outbox " + path_ +
                                      " cannot be used: in use by another program (process " +
                                      std::to_string(::getpid()) + ")");
        EXPECT_TRUE(Outbox(path_, Outbox::Role::Drainer).ok());  // the same program drains it
    }
    EXPECT_TRUE(Outbox(path_, Outbox::Role::Writer).ok());  // released with its holder

    const fs::path text = dir_.path() / "notes.txt";
    std::ofstream(text) << "not a database, but somebody's notes\n";
    Outbox notes(text.string(), Outbox::Role::Writer);
    EXPECT_FALSE(notes.ok());
    EXPECT_NE(notes.error().find("file is not a database"), std::string::npos) << notes.error();
    EXPECT_EQ(slurp(text), "not a database, but somebody's notes\n");

    const fs::path other = dir_.path() / "other.db";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(other.c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "CREATE TABLE t(x); PRAGMA user_version=7;", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    Outbox newer(other.string(), Outbox::Role::Writer);
    EXPECT_FALSE(newer.ok());
    EXPECT_NE(newer.error().find("another version of this program (layout 7"), std::string::npos)
        << newer.error();
}

}  // namespace
