// Finished blocks as bytes: the form in which ranks of an MPI render send
// their blocks to rank 0, and in which rank 0 keeps them in its checkpoint.
//
// A block record (native byte order: every machine of one job, and the
// machine that resumes a checkpoint, must share it, as MPI_BYTE transfers do):
//   five int32   index, x, y, w, h (a workerMessageHeader_t)
//   uint32       form: 0 raw, 1 zlib
//   uint32       L, the payload's length in bytes
//   L bytes      raw: the w * h * 5 floats (R, G, B, alpha, depth, column by
//                column, as the forked driver's block messages carry them);
//                zlib: zlib stream of those bytes (level 1; the library's
//                zlib message format: a 32-bit length, then the stream).
// The zlib form is used only where it pays, that is when it is smaller than
// the raw floats (flat backgrounds compress well, noisy pixels do not).
//
// The checkpoint file: the 16 bytes "vexlar-ckpt-v01\n", a uint64
// fingerprint of the scene and the settings that shape the image, int32
// width, height and block count, then one block record per finished block in
// the order they arrived. A record cut short at the end (rank 0 was killed
// while writing it) is dropped when the file is read.
#ifndef VEXLAR_HOST_MPIBLOCK_H
#define VEXLAR_HOST_MPIBLOCK_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "vexlarcore/workermessage.h"

namespace vexlar {
namespace host {

/// Bytes of a record before its payload.
constexpr std::size_t blockRecordHead = 5 * 4 + 4 + 4;

/// The record of block `h` with `pixels` (w * h * 5 floats). `allowZlib`:
/// compress when that makes the record smaller.
std::vector<unsigned char> encodeBlock(const workerMessageHeader_t& h, const std::vector<float>& pixels,
                                       bool allowZlib);

/// Decodes the record at the start of `data` (`size` bytes available). The
/// header is checked with `ledger` (a block of the pass, not delivered yet,
/// the right rectangle) before the payload is touched. On success fills
/// `out` (header and pixels), sets `used` to the record's length and
/// returns true; otherwise returns false with the reason in `error`
/// ("cut short" when `size` ends inside the record).
bool decodeBlock(const unsigned char* data, std::size_t size, const blockLedger_t& ledger,
                 workerMessage_t& out, std::size_t& used, std::string& error);

/// What a checkpoint is for: a checkpoint of other settings is refused.
struct checkpointKey_t {
    std::uint64_t fingerprint = 0;
    std::int32_t width = 0, height = 0, blocks = 0;
};

/// The checkpoint of one render, kept beside its output image. Not for
/// use from several threads.
class checkpoint_t {
public:
    checkpoint_t() = default;
    ~checkpoint_t();
    checkpoint_t(const checkpoint_t&) = delete;
    checkpoint_t& operator=(const checkpoint_t&) = delete;

    /// "render.png.checkpoint" for "render.png".
    static std::string nameFor(const std::string& outputPath);

    /// Starts a new, empty checkpoint at `path` (replacing a file there).
    bool create(const std::string& path, const checkpointKey_t& key, std::string& error);
    /// Opens the checkpoint at `path` to go on with it: its blocks are
    /// decoded into `blocks` (checked with `ledger`, which is not changed),
    /// a torn last record is cut off, and later appends follow the last good
    /// record. Refused when the file is not a checkpoint, is for another
    /// key, or holds a record that is not a block of the pass.
    bool resume(const std::string& path, const checkpointKey_t& key, const blockLedger_t& ledger,
                std::vector<workerMessage_t>& blocks, std::string& error);
    /// Appends a record (as encodeBlock made it) with one write, so that it
    /// survives this process being killed right after.
    bool append(const std::vector<unsigned char>& record, std::string& error);
    /// Closes and deletes the file: the image it was for is complete.
    void remove();
    const std::string& path() const { return file; }

private:
    std::string file;
    int fd = -1;
};

} // namespace host
} // namespace vexlar

#endif
