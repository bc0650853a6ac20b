#include "host/options.h"

#include "host/limits.h"

#include "vexlarcore/forkedscene.h"
#include "vexlarcore/version.h"

#include <ostream>
#include <regex>

#include <CLI/CLI.hpp>

namespace vexlar {
namespace host {

namespace {

const char* const footer = "With no scene file, vexlar renders its built-in demo scene.\n"
                           "Scene files are JSON; see docs/scene-format.md. Relative file names in a\n"
                           "scene file resolve against the scene file's folder. Writing plug-ins:\n"
                           "docs/plugins.md.\n"
                           "While it works, vexlar shows its progress on standard error: on a terminal\n"
                           "one line redrawn in place (pass, percentage, blocks, elapsed time, time\n"
                           "left), otherwise a plain line now and then. Warnings and errors always show;\n"
                           "-v adds the set-up lines, -q leaves only warnings and errors. At the end one\n"
                           "line on standard output names the image written, its size and the time.\n"
                           "Ctrl-C stops a render: the finished blocks go to NAME.partial.EXT and the\n"
                           "exit status is 130. Other exit statuses: 0 success, 1 failure (one line on\n"
                           "standard error), 2 bad command line.";

struct parsed_t {
    std::string size;
    std::vector<int> region;
    std::vector<std::string> sets;
    bool version = false;
};

// Declares every option on `app`, bound to `o` and `p`.
void declare(CLI::App& app, options_t& o, parsed_t& p) {
    app.description("vexlar: renders a scene description into an image (.png, .tga, .exr, .hdr or .pfm).");
    app.footer(footer);
    app.get_formatter()->column_width(30);
    app.add_option("scene-file", o.sceneFile,
                   "JSON scene description, or a glTF model (.gltf, .glb) to show on its own (default: the "
                   "built-in demo scene)");
    app.add_option(
        "-o,--output", o.output,
        "image to write, its format by extension (see --list-formats; default: the scene's output.file, else "
        "render.png)");
    app.add_option("-j,--workers", o.workers,
                   "worker processes; 1 renders in this process (default: all cores)")
        ->check(CLI::Range(1, 4096));
    app.add_option("--stall-timeout", o.stallTimeout,
                   "seconds a worker process may send nothing before it is taken for stalled, ended, and its "
                   "blocks rendered again (0: never; default 120)")
        ->check(CLI::Range(0.0, 1e6));
    app.add_option("--size", p.size, "image size in pixels, overriding the scene's camera.resolution")
        ->type_name("WxH")
        ->check(
            [](const std::string& s) {
                return std::regex_match(s, std::regex("[0-9]+x[0-9]+"))
                           ? std::string()
                           : std::string("expected WIDTHxHEIGHT such as 640x480");
            },
            "");
    app.add_option("--region", p.region,
                   "render only pixels x0 <= x < x1, y0 <= y < y1 (row 0 at the top); the rest stays "
                   "transparent black")
        ->type_name("X0 X1 Y0 Y1")
        ->expected(4)
        ->allow_extra_args(false);
    app.add_option("--set", p.sets,
                   "override a camera, render or output setting by its JSON path, "
                   "e.g. camera.focal=1.5 (repeatable)")
        ->type_name("KEY=VALUE")
        ->expected(1)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->check(
            [](const std::string& s) {
                std::size_t eq = s.find('=');
                return (eq == std::string::npos || eq == 0) ? std::string("expected KEY=VALUE")
                                                            : std::string();
            },
            "");
    app.add_option("--seed", o.seed, "seed of the random numbers and of the block order")
        ->check(CLI::Range(1, 2147483646));
    app.add_flag("--alpha", o.alpha, "save an alpha channel");
    app.add_option("--plugins", o.pluginDirs,
                   "also load the plug-ins in DIR (repeatable), after the standard ones, which keep their "
                   "type names")
        ->type_name("DIR")
        ->expected(1)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    app.add_flag("--no-standard-plugins", o.noStandardPlugins,
                 "load only the folders given with --plugins (to replace a standard type)");
    app.add_flag("--list-plugins", o.listPlugins, "list the plug-in types with their parameters and exit");
    app.add_flag("--list-formats", o.listFormats, "list the image formats written (by extension) and exit");
    app.add_flag("--strict", o.strict, "treat warnings (unknown settings, unused parameters) as errors");
    CLI::Option* quiet =
        app.add_flag("-q,--quiet", o.quiet,
                     "print nothing but warnings and errors (no progress display, no summary line)");
    app.add_flag("-v,--verbose", o.verbose,
                 "also print the library's set-up lines (world resolution, object tree, light set-up)")
        ->excludes(quiet);
    app.add_flag("--stats", o.stats, "print the time of each phase, rays, rays per second and the counters");
    app.add_option("--mesh-cache", o.meshCache,
                   "folder of the mesh cache (built OBJ meshes with their trees, reused while the file and "
                   "its placement stay the same), or off; default: render.mesh_cache, else "
                   "$VEXLAR_MESH_CACHE, else ~/.cache/vexlar/meshes")
        ->type_name("DIR|off");
    app.add_flag(
        "--resume", o.resume,
        "under mpirun: finish the image from the checkpoint an interrupted MPI render left beside it "
        "(OUTPUT.checkpoint), rendering only the missing blocks (see docs/mpi.md)");
    app.add_flag("--version", p.version, "print the version and exit");
}

} // namespace

int processorCount() {
    return onlineProcessorCount();
}

std::string helpText() {
    CLI::App app;
    app.name("vexlar");
    options_t o;
    parsed_t p;
    declare(app, o, p);
    return app.help();
}

int parseOptions(int argc, const char* const* argv, options_t& options, std::ostream& out,
                 std::ostream& err) {
    CLI::App app;
    app.name("vexlar");
    options_t o;
    o.workers = processorCount();
    parsed_t p;
    declare(app, o, p);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        out << app.help();
        return exitOk;
    } catch (const CLI::ParseError& e) {
        err << "vexlar: error: " << e.what() << " (see vexlar --help)\n";
        return exitUsage;
    }
    if (p.version) {
        out << "vexlar " << VEXLAR_VERSION << "\n";
        return exitOk;
    }
    if (!p.size.empty()) {
        std::size_t x = p.size.find('x');
        // Sides of more than six digits are out of range without being read.
        const std::string w = p.size.substr(0, x), h = p.size.substr(x + 1);
        o.width = w.size() > 6 ? maxImageSide + 1 : std::stoi(w);
        o.height = h.size() > 6 ? maxImageSide + 1 : std::stoi(h);
        if (o.width < 1 || o.height < 1 || o.width > maxImageSide || o.height > maxImageSide) {
            err << "vexlar: error: --size: each side must be from 1 to " << maxImageSide << " pixels, found "
                << p.size << " (see vexlar --help)\n";
            return exitUsage;
        }
    }
    if (!p.region.empty()) {
        o.hasRegion = true;
        for (int i = 0; i < 4; ++i) o.region[i] = p.region[static_cast<std::size_t>(i)];
    }
    for (const std::string& s : p.sets) {
        std::size_t eq = s.find('=');
        o.settings.emplace_back(s.substr(0, eq), s.substr(eq + 1));
    }
    o.hasSeed = app.count("--seed") > 0;
    options = o;
    return -1;
}

} // namespace host
} // namespace vexlar
