#include <gtest/gtest.h>

#include "../support/file_size_limit.h"
#include "../support/open_files.h"
#include "base/messages.h"
#include "base/run_state.h"
#include "io/utility_file.h"

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace velloc::host;

namespace {

using Rec = std::array<double, 3>;
constexpr std::size_t kRec = sizeof(Rec);

Rec makeRec(double i) {
    return {i, i * 0.5, -i};
}

// Saves and restores the global threshold and temp folder; gives each test an empty folder.
class UtilFileTest : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        saved_ = UtilFile::spillThreshold();
        char tmpl[] = "/tmp/velloc-utiltest-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        UtilFile::setTempDir(dir_);
        // Spilled: 10 records fit in memory, so every file of more records goes to disk.
        UtilFile::setSpillThreshold(GetParam() ? 10 * kRec : std::size_t{1} << 30);
    }
    void TearDown() override {
        UtilFile::setSpillThreshold(saved_);
        UtilFile::setTempDir("");
        std::filesystem::remove_all(dir_);
    }
    bool dirEmpty() const { return std::filesystem::is_empty(dir_); }

    std::size_t saved_ = 0;
    std::string dir_;
};

void fill(UtilFile& f, int n) {
    for (int i = 1; i <= n; ++i) {
        Rec r = makeRec(i);
        ASSERT_EQ(f.write(r.data()), 0);
    }
}

} // namespace

TEST_P(UtilFileTest, WritesRewindsAndReadsBack) {
    UtilFile f("VLCDATA", kRec);
    fill(f, 1000);
    EXPECT_EQ(f.count(), 1000);
    EXPECT_EQ(f.spilled(), GetParam());
    Rec r{};
    EXPECT_FALSE(f.read(r.data())); // positioned at the end after appending
    ASSERT_EQ(f.point(0), 0);
    EXPECT_EQ(f.position(), 1);
    for (int i = 1; i <= 1000; ++i) {
        ASSERT_TRUE(f.read(r.data()));
        ASSERT_EQ(r, makeRec(i));
    }
    EXPECT_FALSE(f.read(r.data()));
    EXPECT_EQ(f.lastError(), 0);
    EXPECT_EQ(f.position(), 1001);
}

// next() gives the records read() copies, where they lie: across the read window of a spilled
// file (100,000 records of 24 bytes pass several 1 MiB windows, which 24 does not divide),
// after positioning, mixed with read(), to the end; and an injected read fault stops it as it
// stops read().
TEST_P(UtilFileTest, NextGivesWhatReadCopiesWithoutTheCopy) {
    UtilFile f("VLCDATA", kRec);
    fill(f, 100000);
    ASSERT_EQ(f.point(0), 0);
    Rec r{};
    for (int i = 1; i <= 100000; ++i) {
        if (i % 1000 == 0) { // every thousandth through read()
            ASSERT_TRUE(f.read(r.data()));
            ASSERT_EQ(r, makeRec(i));
            continue;
        }
        const void* p = f.next();
        ASSERT_NE(p, nullptr) << i;
        std::memcpy(r.data(), p, kRec);
        ASSERT_EQ(r, makeRec(i)) << i;
    }
    EXPECT_EQ(f.next(), nullptr);
    EXPECT_EQ(f.lastError(), 0);
    ASSERT_EQ(f.point(54321), 0);
    std::memcpy(r.data(), f.next(), kRec);
    EXPECT_EQ(r, makeRec(54321));
    UtilFile::injectFault(UtilFile::FaultOp::Read, "", 2);
    EXPECT_NE(f.next(), nullptr);
    EXPECT_EQ(f.next(), nullptr);
    EXPECT_NE(f.lastError(), 0);
    UtilFile::clearInjectedFault();
}

// nextDoubles reads records of whole doubles where they lie (aligned, memory or window) and
// copies a record with a tail of bytes into the caller's buffer; both stop at the end.
TEST_P(UtilFileTest, NextDoublesInPlaceOnlyForWholeDoubles) {
    UtilFile whole("VLCVOUT", 16), odd("VLCVOUT", 12);
    for (int i = 0; i < 3000; ++i) {
        const double w[2] = {i + 0.5, -i - 0.25};
        ASSERT_EQ(whole.write(w), 0);
        char o[12];
        const float tail = static_cast<float>(i);
        std::memcpy(o, &w[0], 8);
        std::memcpy(o + 8, &tail, 4);
        ASSERT_EQ(odd.write(o), 0);
    }
    ASSERT_EQ(whole.point(0), 0);
    ASSERT_EQ(odd.point(0), 0);
    double buf[3] = {};
    for (int i = 0; i < 3000; ++i) {
        const double* w = nextDoubles(whole, buf);
        ASSERT_NE(w, nullptr);
        EXPECT_NE(w, buf);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(w) % alignof(double), 0u);
        ASSERT_EQ(w[0], i + 0.5);
        ASSERT_EQ(w[1], -i - 0.25);
        const double* o = nextDoubles(odd, buf);
        ASSERT_EQ(o, buf);
        float tail;
        std::memcpy(&tail, reinterpret_cast<const char*>(o) + 8, 4);
        ASSERT_EQ(o[0], i + 0.5);
        ASSERT_EQ(tail, static_cast<float>(i));
    }
    EXPECT_EQ(nextDoubles(whole, buf), nullptr);
    EXPECT_EQ(nextDoubles(odd, buf), nullptr);
}

// appendInPlace gives room for a block of records at the end of a file in memory, read back
// like written ones; a file on disk, a block past the threshold or a fault gets none and
// appends nothing.
TEST(UtilFileAppend, BlocksInMemoryOnly) {
    const std::size_t saved = UtilFile::spillThreshold();
    UtilFile::setSpillThreshold(1000 * kRec);
    UtilFile f("VLCLREG", kRec);
    fill(f, 10);
    char* block = f.appendInPlace(90);
    ASSERT_NE(block, nullptr);
    for (int i = 11; i <= 100; ++i) {
        const Rec r = makeRec(i);
        std::memcpy(block + (i - 11) * kRec, r.data(), kRec);
    }
    EXPECT_EQ(f.count(), 100);
    EXPECT_EQ(f.appendInPlace(901), nullptr); // 1,001 records pass the threshold
    EXPECT_EQ(f.count(), 100);
    EXPECT_EQ(f.lastError(), 0);
    UtilFile::injectFault(UtilFile::FaultOp::Write, "", 1);
    EXPECT_EQ(f.appendInPlace(5), nullptr);
    EXPECT_NE(f.lastError(), 0);
    UtilFile::clearInjectedFault();
    EXPECT_EQ(f.count(), 100);
    ASSERT_EQ(f.point(0), 0);
    Rec r{};
    for (int i = 1; i <= 100; ++i) {
        ASSERT_TRUE(f.read(r.data()));
        ASSERT_EQ(r, makeRec(i)) << i;
    }
    UtilFile onDisk("VLCLREG", kRec);
    ASSERT_EQ(onDisk.expectRecords(2000), 0);
    EXPECT_TRUE(onDisk.spilled());
    EXPECT_EQ(onDisk.appendInPlace(5), nullptr);
    EXPECT_EQ(onDisk.count(), 0);
    UtilFile::setSpillThreshold(saved);
}

// Records changed through memoryDataForUpdate read back changed; a spilled file has none.
TEST_P(UtilFileTest, RecordsRewrittenWhereTheyLie) {
    UtilFile f("VLCVOUT", kRec);
    fill(f, 50);
    char* mem = f.memoryDataForUpdate();
    if (GetParam()) { // spilled
        EXPECT_EQ(mem, nullptr);
        return;
    }
    ASSERT_NE(mem, nullptr);
    for (int i = 0; i < 50; ++i)
        reinterpret_cast<double*>(mem + static_cast<std::size_t>(i) * kRec)[1] = -1.0 * i;
    ASSERT_EQ(f.point(0), 0);
    Rec r{};
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(f.read(r.data()));
        Rec want = makeRec(i + 1);
        want[1] = -1.0 * i;
        ASSERT_EQ(r, want) << i;
    }
}

TEST_P(UtilFileTest, PositionedReadsAndInPlaceRewrite) {
    UtilFile f("VLCVOUT", kRec);
    fill(f, 500);
    Rec r{};
    ASSERT_EQ(f.point(250), 0);
    ASSERT_TRUE(f.read(r.data()));
    EXPECT_EQ(r, makeRec(250));
    ASSERT_TRUE(f.read(r.data()));
    EXPECT_EQ(r, makeRec(251));

    // Read, modify and rewrite each record where it stands.
    for (int k = 100; k <= 200; ++k) {
        ASSERT_EQ(f.point(k), 0);
        ASSERT_TRUE(f.read(r.data()));
        r[1] = -7.0 * k;
        ASSERT_EQ(f.point(k), 0);
        ASSERT_EQ(f.write(r.data()), 0);
    }
    // A rewind followed by writes rewrites from the start without growing the file.
    ASSERT_EQ(f.point(0), 0);
    for (int i = 1; i <= 3; ++i) {
        Rec w = makeRec(1000 + i);
        ASSERT_EQ(f.write(w.data()), 0);
    }
    EXPECT_EQ(f.count(), 500);
    // Positioning at count + 1 appends.
    ASSERT_EQ(f.point(501), 0);
    Rec last = makeRec(9999);
    ASSERT_EQ(f.write(last.data()), 0);
    EXPECT_EQ(f.count(), 501);

    ASSERT_EQ(f.point(0), 0);
    for (int i = 1; i <= 501; ++i) {
        ASSERT_TRUE(f.read(r.data()));
        Rec want = i <= 3 ? makeRec(1000 + i) : i == 501 ? last : makeRec(i);
        if (i >= 100 && i <= 200) want[1] = -7.0 * i;
        ASSERT_EQ(r, want) << "record " << i;
    }
}

int gFaultsHandled = 0;
void countFault(int) {
    ++gFaultsHandled;
}

// Two threads each read half the records by number, in chunks, while the file's own position
// stays where it was; reads outside the file, and on disk before the held-back writes went
// out, are refused; an I/O fault goes to the handler.
TEST_P(UtilFileTest, ReadsByNumberFromTwoThreads) {
    UtilFile f("VLCLREG", kRec);
    fill(f, 5000);
    Rec r{};
    EXPECT_EQ(f.readRecordsAt(0, 1, r.data()), GetParam() ? kUtilBadPosition : kUtilOk);
    ASSERT_EQ(f.point(0), 0);
    ASSERT_TRUE(f.read(r.data()));
    std::vector<Rec> got(5000);
    int rc[2] = {-1, -1};
    auto half = [&](int from, int to, int& out) {
        out = kUtilOk;
        for (int k = from; k < to && out == kUtilOk; k += 37)
            out = f.readRecordsAt(k, std::min(37, to - k), got[static_cast<std::size_t>(k)].data());
    };
    std::thread other(half, 2500, 5000, std::ref(rc[1]));
    half(0, 2500, rc[0]);
    other.join();
    EXPECT_EQ(rc[0], kUtilOk);
    EXPECT_EQ(rc[1], kUtilOk);
    for (int k = 0; k < 5000; ++k)
        ASSERT_EQ(got[static_cast<std::size_t>(k)], makeRec(k + 1)) << k;
    ASSERT_TRUE(f.read(r.data()));
    EXPECT_EQ(r, makeRec(2)); // the position did not move
    EXPECT_EQ(f.readRecordsAt(4999, 2, r.data()), kUtilBadPosition);
    EXPECT_EQ(f.readRecordsAt(-1, 1, r.data()), kUtilBadPosition);
    EXPECT_EQ(f.readRecordsAt(5000, 0, r.data()), kUtilOk);
    gFaultsHandled = 0;
    UtilFile::setFaultHandler(countFault);
    UtilFile::injectFault(UtilFile::FaultOp::Read, "", 1);
    EXPECT_EQ(f.readRecordsAt(10, 1, r.data()), kUtilIoError);
    UtilFile::setFaultHandler(nullptr);
    EXPECT_EQ(gFaultsHandled, 1);
    EXPECT_EQ(f.readRecordsAt(10, 1, r.data()), kUtilOk);
    EXPECT_EQ(r, makeRec(11));
}

// A fault that several readers meet at once reaches the handler once, each reader getting
// the code: the file on disk cut short while two threads of the session read it by number.
TEST_P(UtilFileTest, AFaultTwoReadersMeetIsHandledOnce) {
    if (!GetParam()) GTEST_SKIP() << "a file in memory cannot fail";
    UtilFile f("VLCLREG", kRec);
    fill(f, 5000);
    ASSERT_EQ(f.point(0), 0);
    // The unlinked temporary file, cut to nothing through its descriptor.
    bool cut = false;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        const std::string target = std::filesystem::read_symlink(e.path(), ec).string();
        if (!ec && target.rfind(dir_, 0) == 0 && ::truncate(e.path().c_str(), 0) == 0) cut = true;
    }
    ASSERT_TRUE(cut);
    gFaultsHandled = 0;
    UtilFile::setFaultHandler(countFault);
    int rc[2] = {kUtilOk, kUtilOk};
    std::vector<Rec> a(100), b(100);
    std::thread other([&, &state = velloc::host::currentRunState()] {
        velloc::host::RunStateScope scope(state);
        rc[1] = f.readRecordsAt(4000, 100, b.data());
    });
    rc[0] = f.readRecordsAt(0, 100, a.data());
    other.join();
    UtilFile::setFaultHandler(nullptr);
    EXPECT_EQ(rc[0], kUtilIoError);
    EXPECT_EQ(rc[1], kUtilIoError);
    EXPECT_EQ(gFaultsHandled, 1);
}

TEST_P(UtilFileTest, EmptyingAllowsANewRecordLength) {
    UtilFile f("VLCTEMP", kRec);
    fill(f, 50);
    EXPECT_EQ(f.setRecordBytes(16), kUtilNotEmpty);
    ASSERT_EQ(f.point(-2), 0);
    EXPECT_EQ(f.count(), 0);
    EXPECT_FALSE(f.spilled());
    Rec r{};
    EXPECT_FALSE(f.read(r.data()));
    ASSERT_EQ(f.setRecordBytes(16), 0);
    for (int i = 0; i < 40; ++i) {
        double two[2] = {double(i), double(i) + 0.25};
        ASSERT_EQ(f.write(two), 0);
    }
    EXPECT_EQ(f.spilled(), GetParam()); // 640 bytes against a 240-byte threshold
    ASSERT_EQ(f.point(0), 0);
    for (int i = 0; i < 40; ++i) {
        double two[2];
        ASSERT_TRUE(f.read(two));
        EXPECT_EQ(two[0], i);
        EXPECT_EQ(two[1], i + 0.25);
    }
}

// Random mixes of positioning, reads, overwrites and appends against a plain vector. Records
// span several I/O windows when spilled, so window reloads and flushes are exercised.
TEST_P(UtilFileTest, RandomAccessMatchesAModel) {
    UtilFile f("VLCCNTL", kRec);
    std::vector<Rec> model;
    std::mt19937_64 rng(12345);
    const int n = 120000; // about 2.9 MB
    for (int i = 0; i < n; ++i) {
        model.push_back(makeRec(i));
        ASSERT_EQ(f.write(model.back().data()), 0);
    }
    std::int64_t pos = static_cast<std::int64_t>(model.size()); // 0-based
    for (int step = 0; step < 20000; ++step) {
        int op = static_cast<int>(rng() % 4);
        if (op == 0) {
            std::int64_t k = static_cast<std::int64_t>(rng() % (model.size() + 1)) + 1;
            ASSERT_EQ(f.point(k), 0);
            pos = k - 1;
        } else if (op == 1) {
            for (int j = 0; j < 50; ++j) {
                Rec r{};
                bool ok = f.read(r.data());
                ASSERT_EQ(ok, pos < static_cast<std::int64_t>(model.size()));
                if (!ok) break;
                ASSERT_EQ(r, model[static_cast<std::size_t>(pos)]) << "step " << step;
                ++pos;
            }
        } else {
            for (int j = 0; j < 30; ++j) {
                Rec w = makeRec(-static_cast<double>(step * 100 + j));
                ASSERT_EQ(f.write(w.data()), 0);
                if (pos == static_cast<std::int64_t>(model.size()))
                    model.push_back(w);
                else
                    model[static_cast<std::size_t>(pos)] = w;
                ++pos;
            }
        }
        ASSERT_EQ(f.count(), static_cast<std::int64_t>(model.size()));
        ASSERT_EQ(f.position(), pos + 1);
    }
    ASSERT_EQ(f.point(0), 0);
    Rec r{};
    for (const Rec& want : model) {
        ASSERT_TRUE(f.read(r.data()));
        ASSERT_EQ(r, want);
    }
    EXPECT_FALSE(f.read(r.data()));
}

TEST_P(UtilFileTest, BadPositionsAndMissingRecordLengthFailCleanly) {
    UtilFile f("VLCLREG", kRec);
    fill(f, 20);
    EXPECT_EQ(f.point(-1), kUtilBadPosition);
    EXPECT_EQ(f.point(22), kUtilBadPosition);
    EXPECT_EQ(f.point(-3), kUtilBadPosition);
    EXPECT_EQ(f.lastError(), kUtilBadPosition);
    // A failed positioning leaves the file as it was.
    EXPECT_EQ(f.count(), 20);
    ASSERT_EQ(f.point(20), 0);
    Rec r{};
    ASSERT_TRUE(f.read(r.data()));
    EXPECT_EQ(r, makeRec(20));

    std::ostringstream log;
    Log::setStream(&log);
    EXPECT_EQ(f.point(99), kUtilBadPosition);
    xprrlog(kUtilBadPosition);
    UtilFile none("VLCSKIP");
    EXPECT_EQ(none.write(r.data()), kUtilNoRecordLength);
    EXPECT_EQ(none.count(), 0);
    xprrlog(kUtilNoRecordLength);
    Log::setStream(nullptr);
    std::string text = log.str();
    EXPECT_NE(text.find("ERROR:"), std::string::npos);
    EXPECT_NE(text.find("VLCLREG"), std::string::npos);
    EXPECT_NE(text.find("99"), std::string::npos);
    EXPECT_NE(text.find("VLCSKIP"), std::string::npos);
    EXPECT_NE(text.find("[901-303]"), std::string::npos);
}

// A released file is empty and reusable; the next file that grows takes its memory (in
// memory: the same pages, read back as that file's own records), and spilled files release
// their temporary file.
TEST_P(UtilFileTest, ReleasedMemoryGoesToTheNextFileThatGrows) {
    UtilFile::releasePool();
    UtilFile a("VLCDATA", kRec), b("VLCVOUT", 2 * kRec);
    for (int i = 0; i < 50; ++i) {
        Rec r = makeRec(i);
        ASSERT_EQ(a.write(r.data()), 0);
    }
    const char* before = a.memoryData();
    a.release();
    EXPECT_EQ(a.count(), 0);
    EXPECT_EQ(a.memoryData(), nullptr);
    EXPECT_EQ(a.spilled(), false);
    for (int i = 0; i < 40; ++i) {
        const double two[6] = {double(i), 1, 2, 3, 4, double(-i)};
        ASSERT_EQ(b.write(two), 0);
    }
    if (!GetParam()) {
        EXPECT_EQ(b.memoryData(), before); // the released pages, reused
    }
    EXPECT_EQ(b.count(), 40);
    ASSERT_EQ(b.point(0), 0);
    for (int i = 0; i < 40; ++i) {
        double two[6];
        ASSERT_TRUE(b.read(two));
        EXPECT_EQ(two[0], i);
        EXPECT_EQ(two[5], -i);
    }
    // The released file grows again from fresh memory, with its own records.
    for (int i = 0; i < 30; ++i) {
        Rec r = makeRec(100 + i);
        ASSERT_EQ(a.write(r.data()), 0);
    }
    ASSERT_EQ(a.point(0), 0);
    Rec r{};
    ASSERT_TRUE(a.read(r.data()));
    EXPECT_EQ(r, makeRec(100));
    EXPECT_EQ(a.count(), 30);
    UtilFile::releasePool();
}

TEST_P(UtilFileTest, TemporaryFilesNeverShowInTheFolder) {
    {
        UtilFile f("VLCTREAT", kRec);
        fill(f, 100);
        EXPECT_TRUE(dirEmpty());
    }
    EXPECT_TRUE(dirEmpty());
}

TEST_P(UtilFileTest, MovedFromFileFailsWithoutCrashing) {
    UtilFile a("VLCDATA", kRec);
    fill(a, 30);
    UtilFile b(std::move(a));
    EXPECT_EQ(b.count(), 30);
    Rec r{};
    EXPECT_FALSE(a.read(r.data())); // NOLINT(bugprone-use-after-move)
    EXPECT_NE(a.write(r.data()), 0);
    EXPECT_NE(a.point(1), 0);
    ASSERT_EQ(b.point(30), 0);
    ASSERT_TRUE(b.read(r.data()));
    EXPECT_EQ(r, makeRec(30));
}

INSTANTIATE_TEST_SUITE_P(MemoryAndSpilled, UtilFileTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Spilled" : "Memory"; });

TEST(UtilFileSpill, ExactlyAtTheThresholdStaysInMemory) {
    std::size_t saved = UtilFile::spillThreshold();
    UtilFile::setSpillThreshold(10 * kRec);
    UtilFile f("VLCVOUT", kRec);
    fill(f, 10);
    EXPECT_FALSE(f.spilled());
    Rec r = makeRec(11);
    ASSERT_EQ(f.write(r.data()), 0);
    EXPECT_TRUE(f.spilled());
    ASSERT_EQ(f.point(0), 0);
    for (int i = 1; i <= 11; ++i) {
        ASSERT_TRUE(f.read(r.data()));
        EXPECT_EQ(r, makeRec(i));
    }
    UtilFile::setSpillThreshold(saved);
}

// A file told it will pass the threshold goes to disk before its first record, not after
// filling memory; told less, or holding records already, it goes on as before.
TEST(UtilFileSpill, AnEmptyFileExpectingMoreThanTheThresholdStartsOnDisk) {
    std::size_t saved = UtilFile::spillThreshold();
    UtilFile::setSpillThreshold(10 * kRec);
    UtilFile f("VLCLREG", kRec);
    ASSERT_EQ(f.expectRecords(11), 0);
    EXPECT_TRUE(f.spilled());
    fill(f, 11);
    ASSERT_EQ(f.point(0), 0);
    Rec r;
    for (int i = 1; i <= 11; ++i) {
        ASSERT_TRUE(f.read(r.data()));
        EXPECT_EQ(r, makeRec(i));
    }
    EXPECT_FALSE(f.read(r.data()));
    // Emptied, it starts in memory again.
    ASSERT_EQ(f.point(-2), 0);
    fill(f, 3);
    EXPECT_FALSE(f.spilled());

    UtilFile g("VLCVOUT", kRec);
    ASSERT_EQ(g.expectRecords(10), 0);
    fill(g, 10);
    EXPECT_FALSE(g.spilled());
    // Records already written: the hint no longer applies.
    ASSERT_EQ(g.expectRecords(1000), 0);
    EXPECT_FALSE(g.spilled());
    EXPECT_EQ(g.count(), 10);
    UtilFile::setSpillThreshold(saved);
}

TEST(UtilFileSpill, UnusableTempFolderKeepsTheDataInMemory) {
    std::size_t saved = UtilFile::spillThreshold();
    UtilFile::setSpillThreshold(5 * kRec);
    UtilFile::setTempDir("/nonexistent/velloc-no-such-folder");
    UtilFile f("VLCTEMP", kRec);
    fill(f, 5);
    Rec r = makeRec(6);
    EXPECT_EQ(f.write(r.data()), kUtilTempCreate);
    EXPECT_FALSE(f.spilled());
    EXPECT_EQ(f.count(), 5);

    std::ostringstream log;
    Log::setStream(&log);
    xprrlog(kUtilTempCreate);
    Log::setStream(nullptr);
    EXPECT_NE(log.str().find("/nonexistent/velloc-no-such-folder"), std::string::npos);

    UtilFile::setTempDir("");
    UtilFile::setSpillThreshold(saved);
    ASSERT_EQ(f.point(0), 0);
    for (int i = 1; i <= 5; ++i) {
        ASSERT_TRUE(f.read(r.data()));
        EXPECT_EQ(r, makeRec(i));
    }
}

// A file size limit makes the temporary file fail like a full disk: every operation then
// reports an error instead of crashing, and the sort passes the error on.
TEST(UtilFileSpill, FullDiskIsReportedNotFatal) {
    std::size_t saved = UtilFile::spillThreshold();
    UtilFile::setSpillThreshold(1000);
    velloc::testing::FileSizeLimit limit(64 * 1024);
    ASSERT_TRUE(limit.ok());

    UtilFile f("VLCVOUT", kRec);
    int rc = 0;
    for (int i = 0; i < 200000 && rc == 0; ++i) {
        Rec r = makeRec(i);
        rc = f.write(r.data());
    }
    EXPECT_EQ(rc, kUtilDiskFull);
    EXPECT_EQ(f.lastError(), kUtilDiskFull);
    std::ostringstream log;
    Log::setStream(&log);
    xprrlog(rc);
    Log::setStream(nullptr);
    EXPECT_NE(log.str().find("No space left for utility file VLCVOUT"), std::string::npos);

    // 72 KB held in memory; sorted through runs on disk once the threshold is lowered.
    UtilFile::setSpillThreshold(std::size_t{1} << 20);
    UtilFile g("VLCTEMP", kRec);
    for (int i = 0; i < 3000; ++i) {
        Rec r = makeRec(3000 - i);
        ASSERT_EQ(g.write(r.data()), 0);
    }
    UtilFile::setSpillThreshold(1000);
    UtilFile out("VLCTEMP2");
    SortKey k{0, false};
    EXPECT_EQ(zsort(g, out, &k, 1), kUtilDiskFull);
    EXPECT_EQ(g.count(), 3000);
    UtilFile::setSpillThreshold(saved);
}

namespace {} // namespace

// An emptied spilled file keeps its temporary file open for the next spill, which writes over
// the stale bytes: a reader must see only the new records, whatever length they have, and the
// sort's runs file must not pick up stale runs. The kept files close when the step ends.
TEST(UtilFileSpill, RecycledTemporaryFilesHoldOnlyTheNewRecords) {
    const std::size_t saved = UtilFile::spillThreshold();
    UtilFile::setSpillThreshold(10 * kRec);
    UtilFile::releasePool(); // files kept by earlier tests in this process
    const int before = velloc::testing::openTempFiles();
    {
        UtilFile big("VLCDATA", kRec);
        fill(big, 200);
        ASSERT_TRUE(big.spilled());
        big.release(); // its 200 records stay behind in the kept file
        EXPECT_EQ(velloc::testing::openTempFiles(), before + 1);
        EXPECT_EQ(big.count(), 0);
        EXPECT_FALSE(big.read(nullptr));

        // Another record length, fewer records: the first spill takes the kept file.
        UtilFile small("VLCVOUT", 2 * sizeof(double));
        for (int i = 1; i <= 25; ++i) {
            const double r[2] = {static_cast<double>(26 - i), static_cast<double>(i)};
            ASSERT_EQ(small.write(r), 0);
        }
        ASSERT_TRUE(small.spilled());
        EXPECT_EQ(velloc::testing::openTempFiles(), before + 1); // the kept file, not a new one
        ASSERT_EQ(small.point(0), 0);
        double r[2];
        for (int i = 1; i <= 25; ++i) {
            ASSERT_TRUE(small.read(r));
            EXPECT_EQ(r[1], i);
        }
        EXPECT_FALSE(small.read(r));
        EXPECT_EQ(small.lastError(), 0);

        // Sorted through runs on disk (every run file recycled from the files above), then
        // again after the first sort's files were recycled in turn.
        UtilFile sorted("VLCTEMP", 2 * sizeof(double));
        const SortKey key{0, false};
        for (int pass = 0; pass < 2; ++pass) {
            ASSERT_EQ(zsort(small, sorted, &key, 1), 0);
            EXPECT_EQ(sorted.count(), 25);
            for (int i = 1; i <= 25; ++i) {
                ASSERT_TRUE(sorted.read(r));
                EXPECT_EQ(r[0], i);
                EXPECT_EQ(r[1], 26 - i);
            }
            EXPECT_FALSE(sorted.read(r));
            small.swapRecords(sorted);
            ASSERT_EQ(sorted.point(-2), 0);
            ASSERT_EQ(small.point(0), 0);
        }
        UtilFile::releasePool();
    }
    EXPECT_EQ(velloc::testing::openTempFiles(), before);
    UtilFile::setSpillThreshold(saved);
}

// Before the output data set is written the kept temporary files are closed, so that its pages
// take theirs; the memory released files left stays for the next file that grows.
TEST(UtilFileSpill, ClosingTheKeptFilesLeavesThePooledMemory) {
    const std::size_t saved = UtilFile::spillThreshold();
    UtilFile::releasePool();
    const int before = velloc::testing::openTempFiles();
    UtilFile::setSpillThreshold(10 * kRec);
    UtilFile spilled("VLCDATA", kRec);
    fill(spilled, 200);
    ASSERT_TRUE(spilled.spilled());
    UtilFile::setSpillThreshold(saved);
    UtilFile inMemory("VLCLREG", kRec);
    fill(inMemory, 50);
    ASSERT_FALSE(inMemory.spilled());
    const char* pages = inMemory.memoryData();
    spilled.release();
    inMemory.release();
    EXPECT_EQ(velloc::testing::openTempFiles(), before + 1);

    UtilFile::releaseRecycledFiles();
    EXPECT_EQ(velloc::testing::openTempFiles(), before);
    UtilFile next("VLCVOUT", kRec);
    fill(next, 20);
    EXPECT_EQ(next.memoryData(), pages);
    // A spill after the files closed makes a new one.
    UtilFile::setSpillThreshold(10 * kRec);
    UtilFile again("VLCTEMP", kRec);
    fill(again, 30);
    EXPECT_TRUE(again.spilled());
    EXPECT_EQ(velloc::testing::openTempFiles(), before + 1);
    UtilFile::setSpillThreshold(saved);
    again.point(-2);
    UtilFile::releasePool();
    EXPECT_EQ(velloc::testing::openTempFiles(), before);
}
