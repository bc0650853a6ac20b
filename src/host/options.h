// The command line of the vexlar program.
#ifndef VEXLAR_HOST_OPTIONS_H
#define VEXLAR_HOST_OPTIONS_H

#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

namespace vexlar {
namespace host {

/// Exit statuses of the program.
enum exitStatus_t {
    exitOk = 0,
    exitFailure = 1, ///< scene, plug-in, file or render failure
    exitUsage = 2,   ///< bad command line
    exitInterrupted = 130
};

struct options_t {
    /// The scene file; "" renders the built-in demo scene.
    std::string sceneFile;
    /// -o: the image to write; "" takes the scene's output.file, else render.png.
    std::string output;
    /// -j: worker processes (1 renders in this process).
    int workers = 1;
    /// --stall-timeout: seconds without a message before a worker is ended (0: never).
    double stallTimeout = 120;
    /// --size WxH (0 = the scene's).
    int width = 0;
    int height = 0;
    /// --region X0 X1 Y0 Y1.
    bool hasRegion = false;
    int region[4] = {0, 0, 0, 0};
    /// --set KEY=VALUE, split at the first '='.
    std::vector<std::pair<std::string, std::string>> settings;
    /// --seed N.
    bool hasSeed = false;
    int seed = 0;
    bool alpha = false;
    /// --plugins DIR, repeatable: folders loaded after the standard one.
    std::vector<std::string> pluginDirs;
    /// --no-standard-plugins: load only the pluginDirs.
    bool noStandardPlugins = false;
    bool listPlugins = false;
    bool listFormats = false;
    bool strict = false;
    /// -q: warnings and errors only; -v: also the library's set-up lines.
    bool quiet = false;
    bool verbose = false;
    bool stats = false;
    /// --mesh-cache DIR|off ("" = the scene's render.mesh_cache, else the default).
    std::string meshCache;
    /// --resume: finish an MPI render from its checkpoint.
    bool resume = false;
};

/// The default of --workers: the processors online (vexlar::onlineProcessorCount).
int processorCount();

/// Parses the command line into `out`. Returns -1 when the program should
/// go on; otherwise the exit status after --help or --version (0, text on
/// `out`) or a usage error (2, one line "vexlar: error: ..." on `err`).
int parseOptions(int argc, const char* const* argv, options_t& options, std::ostream& out, std::ostream& err);

/// The --help text.
std::string helpText();

} // namespace host
} // namespace vexlar

#endif
