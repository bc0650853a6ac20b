// The parts of the MPI driver that work without MPI: block records, the
// checkpoint, launcher detection and the pool of forked block renderers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

#include "host/mpiblock.h"
#include "host/mpijob.h"
#include "host/mpipool.h"

namespace {

using namespace vexlar;
using namespace vexlar::host;

// A 130 x 70 image in 64-pixel blocks: the last column and row are narrow.
class mpiDriver : public ::testing::Test {
protected:
    blockSpliter_t blocks{130, 70, 64};
    blockLedger_t ledger{blocks, 1, true};
    std::string dir = ::testing::TempDir();

    // Flat pixels compress; the others are distinct bit patterns that do not.
    std::vector<float> pixelsOf(std::size_t index, bool flat) const {
        const workerMessageHeader_t h = ledger.headerOf(index);
        std::vector<float> px(static_cast<std::size_t>(h.w * h.h * workerFloatsPerPixel));
        std::uint32_t state = static_cast<std::uint32_t>(index) * 7919u + 1u;
        for (float& v : px) {
            state = state * 1664525u + 1013904223u;
            v = flat ? 0.25f * static_cast<float>(index) : static_cast<float>(state >> 8) / 65536.0f;
        }
        return px;
    }
    std::vector<unsigned char> recordOf(std::size_t index, bool flat) const {
        return encodeBlock(ledger.headerOf(index), pixelsOf(index, flat), true);
    }
    checkpointKey_t key() const { return {0x1234abcdull, 130, 70, 6}; }
};

TEST_F(mpiDriver, RecordsRoundTripCompressOnlyWhereThatPaysAndRefuseDamage) {
    struct row_t {
        std::size_t index;
        bool flat, allowZlib, expectZlib;
    } rows[] = {
        {0, true, true, true}, {5, true, false, false}, {3, false, true, false}, {1, false, false, false}};
    workerMessage_t m;
    std::size_t used = 0;
    std::string why;
    for (const row_t& r : rows) {
        const std::vector<float> px = pixelsOf(r.index, r.flat);
        const std::vector<unsigned char> rec = encodeBlock(ledger.headerOf(r.index), px, r.allowZlib);
        std::uint32_t form;
        std::memcpy(&form, &rec[20], 4);
        EXPECT_EQ(form, r.expectZlib ? 1u : 0u) << "block " << r.index;
        EXPECT_EQ(rec.size() < blockRecordHead + px.size() * 4, r.expectZlib) << "block " << r.index;
        ASSERT_TRUE(decodeBlock(rec.data(), rec.size(), ledger, m, used, why)) << why;
        EXPECT_EQ(used, rec.size());
        EXPECT_EQ(m.header.index, static_cast<int>(r.index));
        EXPECT_EQ(m.pixels, px) << "block " << r.index;
    }
    blockLedger_t withFirstDone = ledger;
    withFirstDone.markDelivered(0);
    struct bad_t {
        const char* what;
        std::function<void(std::vector<unsigned char>&)> damage;
        const blockLedger_t* against;
        const char* reason;
    } bad[] = {
        {"header cut", [](auto& r) { r.resize(10); }, &ledger, "cut short"},
        {"payload cut", [](auto& r) { r.pop_back(); }, &ledger, "cut short"},
        {"unknown index", [](auto& r) { r[0] = 99; }, &ledger, "names no block"},
        {"wrong width", [](auto& r) { r[12] ^= 1; }, &ledger, "wrong position or size"},
        {"unknown form", [](auto& r) { r[20] = 7; }, &ledger, "neither raw"},
        {"zlib damaged", [](auto& r) { r[blockRecordHead + 3] ^= 0x55; }, &ledger, "damaged"},
        {"repeat", [](auto&) {}, &withFirstDone, "repeats a block"},
    };
    for (const bad_t& r : bad) {
        std::vector<unsigned char> rec = recordOf(0, true);
        r.damage(rec);
        EXPECT_FALSE(decodeBlock(rec.data(), rec.size(), *r.against, m, used, why)) << r.what;
        EXPECT_NE(why.find(r.reason), std::string::npos) << r.what << ": " << why;
    }
}

TEST_F(mpiDriver, CheckpointKeepsWholeRecordsDropsATornTailAndRefusesOthers) {
    const std::string path = dir + "ckpt_resume.checkpoint";
    std::string error;
    {
        checkpoint_t c;
        ASSERT_TRUE(c.create(path, key(), error)) << error;
        for (std::size_t i : {4u, 1u}) ASSERT_TRUE(c.append(recordOf(i, i == 4), error)) << error;
        std::vector<unsigned char> torn = recordOf(2, false);
        torn.resize(torn.size() / 2);
        ASSERT_TRUE(c.append(torn, error));
    }
    std::vector<workerMessage_t> kept;
    checkpoint_t c;
    ASSERT_TRUE(c.resume(path, key(), ledger, kept, error)) << error;
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0].header.index, 4);
    EXPECT_EQ(kept[1].pixels, pixelsOf(1, false));
    ASSERT_TRUE(c.append(recordOf(2, false), error)) << error;
    kept.clear();
    checkpoint_t again;
    ASSERT_TRUE(again.resume(path, key(), ledger, kept, error)) << error;
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_EQ(kept[2].pixels, pixelsOf(2, false));
    ASSERT_TRUE(again.append(recordOf(4, true), error)); // a repeated block damages the file
    const std::size_t size =
        36 + 2 * recordOf(4, true).size() + recordOf(1, false).size() + recordOf(2, false).size();
    // Other settings, damage and strangers are refused and leave the file alone.
    std::ofstream(dir + "ckpt_garbage") << "not a checkpoint at all, just text";
    struct row_t {
        std::string file;
        checkpointKey_t key;
        const char* reason;
    } rows[] = {{path, {key().fingerprint ^ 1, 130, 70, 6}, "another scene"},
                {path, {key().fingerprint, 131, 70, 6}, "another scene"},
                {path, key(), "damaged at byte"},
                {dir + "ckpt_garbage", key(), "not a vexlar checkpoint"},
                {dir + "ckpt_missing", key(), "cannot open"}};
    for (const row_t& r : rows) {
        checkpoint_t refused;
        EXPECT_FALSE(refused.resume(r.file, r.key, ledger, kept, error)) << r.file;
        EXPECT_NE(error.find(r.reason), std::string::npos) << error;
    }
    std::ifstream f(path, std::ios::binary | std::ios::ate);
    EXPECT_EQ(static_cast<std::size_t>(f.tellg()), size) << "refusal changed it";
    again.remove();
    EXPECT_NE(access(path.c_str(), F_OK), 0);
}

TEST(mpiLauncher, LauncherVariablesMarkAnMpiRun) {
    const char* names[] = {"OMPI_COMM_WORLD_SIZE", "PMIX_RANK", "PMI_RANK", "PMI_SIZE"};
    for (const char* n : names) unsetenv(n);
    EXPECT_FALSE(launchedByMpi());
    for (const char* n : names) {
        setenv(n, "", 1);
        EXPECT_FALSE(launchedByMpi()) << n << " empty";
        setenv(n, "2", 1);
        EXPECT_TRUE(launchedByMpi()) << n;
        unsetenv(n);
    }
}

// Renders every block through a pool; `render` may end a worker process.
std::vector<workerMessage_t> renderAll(const blockSpliter_t& blocks, int workers,
                                       blockPool_t::render_t render) {
    blockPool_t pool(blocks, workers, 2, std::move(render));
    std::vector<workerMessage_t> done;
    std::size_t next = 0;
    const std::size_t total = blocks.regions.size();
    for (int guard = 0; guard < 100000 && !(next == total && pool.idle()); ++guard) {
        while (next < total && pool.room() > 0) pool.give(next++);
        if (next == total) pool.close();
        pool.step(5, done);
    }
    return done;
}

TEST_F(mpiDriver, PoolDeliversEveryBlockOnceAlsoWhenAWorkerDies) {
    const pid_t parent = getpid();
    for (int workers : {1, 3, 2}) { // of two workers, the one given block 2 dies
        std::vector<workerMessage_t> done =
            renderAll(blocks, workers, [&](std::size_t i, std::vector<float>& px) {
                if (workers == 2 && i == 2 && getpid() != parent) _exit(9);
                px = pixelsOf(i, false);
                return ledger.headerOf(i);
            });
        std::vector<int> seen(blocks.regions.size(), 0);
        for (const workerMessage_t& m : done) {
            ++seen[static_cast<std::size_t>(m.header.index)];
            EXPECT_EQ(m.pixels, pixelsOf(static_cast<std::size_t>(m.header.index), false));
        }
        EXPECT_EQ(seen, std::vector<int>(blocks.regions.size(), 1)) << workers << " workers";
    }
}

} // namespace
