// Silencing the library's progress output for --quiet.
#ifndef VEXLAR_HOST_QUIET_H
#define VEXLAR_HOST_QUIET_H

#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

namespace vexlar {
namespace host {

/// While it lives (when `on`): standard output goes nowhere (both the C and
/// the C++ stream, and so in worker processes too) and std::cerr is kept in
/// memory. When it ends, the kept lines that are not progress chatter (light
/// set-up, world resolution) are written to std::cerr, so warnings and
/// errors of the library still show.
class quietScope_t {
public:
    explicit quietScope_t(bool on);
    ~quietScope_t();
    quietScope_t(const quietScope_t&) = delete;
    quietScope_t& operator=(const quietScope_t&) = delete;

    /// True for the library's informational lines on standard error.
    static bool isChatter(const std::string& line);

private:
    bool on;
    int savedStdout = -1;
    std::streambuf* savedCout = nullptr;
    std::streambuf* savedCerr = nullptr;
    std::ostringstream kept;
    std::ostringstream discarded;
    int owner = 0; // the process that silenced its output

    // Runs when the process exits while output is silenced (the library
    // ends the program on a fatal fault): shows what was kept and the last
    // lines of the silenced output, so a failure never goes unexplained.
    static void onExit();
    static quietScope_t* active;
};

} // namespace host
} // namespace vexlar

#endif
