// Progress of the long steps of loading a scene: reading a mesh file and
// building its triangle tree. Reported as progress messages through the
// library's message sink (messages.h), so that the program's display shows
// them like the render passes.
#ifndef VEXLAR_HOST_LOADPROGRESS_H
#define VEXLAR_HOST_LOADPROGRESS_H

#include <fstream>
#include <istream>
#include <streambuf>
#include <string>

#include "vexlarcore/messages.h"

namespace vexlar {
namespace host {

/// The buffer behind progressFile_t.
class progressBuffer_t : public std::streambuf {
public:
    bool open(const std::string& path);
    /// Reports the end of the pass (if it began).
    ~progressBuffer_t() override;

protected:
    int_type underflow() override;
    pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode which) override;
    pos_type seekpos(pos_type pos, std::ios_base::openmode which) override;

private:
    void report(progressStage_t stage);

    std::filebuf file;
    std::string pass;
    long long size = 0;
    long long offset = 0; ///< file position of the buffer's start
    bool begun = false;
    char buffer[1 << 16];
};

/// Reads a file through a buffer of its own, reporting the bytes read as the
/// pass "Reading <file name>" (done and total in bytes) every 64 KiB.
/// Seeking back to the start (as the OBJ reader does for meshes with
/// polygons) reads the file again and reports again.
class progressFile_t : public std::istream {
public:
    /// Opens `path`; the stream fails when it cannot be opened (errno says why).
    explicit progressFile_t(const std::string& path);

private:
    progressBuffer_t buffer;
};

/// Reports the pass "Mesh tree" (no units) around `build()` and returns
/// what it returns.
template <class F> auto withTreeProgress(F build) -> decltype(build()) {
    struct scope_t {
        scope_t() { emit(progressStage_t::begin); }
        ~scope_t() { emit(progressStage_t::end); }
        static void emit(progressStage_t stage) {
            progressEvent_t e;
            e.pass = "Mesh tree";
            e.stage = stage;
            emitProgress(messageStream_t::standardError, "", e);
        }
    } scope;
    return build();
}

} // namespace host
} // namespace vexlar

#endif
