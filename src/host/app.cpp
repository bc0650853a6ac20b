#include "host/app.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <malloc.h>
#include <memory>
#include <new>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

#include "host/demoscene.h"
#include "host/gltfobject.h"
#include "host/imagesink.h"
#include "host/imagewrite.h"
#include "host/interrupt.h"
#include "host/limits.h"
#include "host/mpijob.h"
#include "host/mpirender.h"
#include "host/options.h"
#include "host/pluginpaths.h"
#include "host/postfilter.h"
#include "host/sceneloader.h"
#include "host/stats.h"
#include "host/terminal.h"
#include "vexlarcore/forkedscene.h"
#include "vexlarcore/pluginregistry.h"
#include "vexlarcore/sampling.h"

namespace vexlar {
namespace host {

namespace {

// A failure with its complete message; ends the run with `status`.
struct runFailure_t {
    std::string message;
    int status;
};

[[noreturn]] void failRun(const std::string& message, int status = exitFailure) {
    throw runFailure_t{"vexlar: error: " + message, status};
}

bool isDirectory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Loads the standard plug-ins, then those of every --plugins folder in
// order; the first module to register a type keeps it. Returns the warnings
// (one per failed module or duplicate type).
std::vector<std::string> loadPlugins(pluginManager_t& plugins, const options_t& opt) {
    std::vector<std::string> warnings;
    for (const std::string& dir : opt.pluginDirs)
        if (!isDirectory(dir)) failRun("--plugins \"" + dir + "\": not a folder");
    std::vector<std::string> dirs;
    if (!opt.noStandardPlugins) {
        std::vector<std::string> candidates = pluginDirCandidates(executablePath());
        std::string standard = findPluginDir(candidates);
        if (!standard.empty()) {
            dirs.push_back(standard);
        } else {
            std::string looked;
            for (const std::string& c : candidates) looked += (looked.empty() ? "" : ", ") + c;
            warnings.push_back("vexlar: warning: no standard plug-in folder found (looked in " + looked +
                               "); use --plugins DIR");
        }
    }
    dirs.insert(dirs.end(), opt.pluginDirs.begin(), opt.pluginDirs.end());
    // A folder named twice (or the standard one named again) loads once.
    std::vector<std::filesystem::path> loaded;
    for (const std::string& dir : dirs) {
        std::error_code ec;
        std::filesystem::path canonical = std::filesystem::weakly_canonical(dir, ec);
        if (std::find(loaded.begin(), loaded.end(), canonical) != loaded.end()) continue;
        loaded.push_back(canonical);
        plugins.loadDirectory(dir);
    }
    for (const std::string& e : plugins.errors()) warnings.push_back("vexlar: warning: plug-in " + e);
    return warnings;
}

// Refuses, before anything is allocated for it, an image the machine's
// memory cannot hold.
void checkImageMemory(const loadedScene_t& loaded) {
    const std::string fault = imageMemoryFault(loaded.width, loaded.height,
                                               static_cast<int>(loaded.filters.size()), physicalMemory());
    if (!fault.empty()) failRun(fault);
}

sceneSource_t sourceFor(const options_t& opt) {
    if (opt.sceneFile.empty()) return demoSceneSource();
    sceneSource_t s;
    std::string error;
    if (isDirectory(opt.sceneFile))
        failRun("cannot read scene file \"" + opt.sceneFile + "\": it is a folder");
    s.label = opt.sceneFile;
    s.baseDir = folderOf(opt.sceneFile);
    if (isGltfFile(opt.sceneFile)) {
        // A model on its own: a scene that shows it.
        const std::size_t slash = opt.sceneFile.rfind('/');
        s.text =
            gltfStandaloneScene(slash == std::string::npos ? opt.sceneFile : opt.sceneFile.substr(slash + 1));
        return s;
    }
    if (!readFile(opt.sceneFile, s.text, error))
        failRun("cannot read scene file \"" + opt.sceneFile + "\": " + error);
    s.label = opt.sceneFile;
    s.baseDir = folderOf(opt.sceneFile);
    return s;
}

verbosity_t verbosityOf(const options_t& opt) {
    return opt.quiet ? verbosity_t::quiet : opt.verbose ? verbosity_t::verbose : verbosity_t::normal;
}

// "in 1.25 s", or "in 2:05" from a minute on.
std::string tookText(double seconds) {
    if (seconds >= 60) return "in " + clockText(seconds);
    char text[32];
    std::snprintf(text, sizeof text, "in %.2f s", seconds);
    return text;
}

int renderScene(const options_t& opt) {
    // Everything the library and this program say while working goes
    // through the display; it clears its progress line whichever way this
    // function ends.
    terminal_t display(stderr, isatty(STDERR_FILENO) != 0, verbosityOf(opt));
    terminalSink_t displaySink(display);
    const auto began = std::chrono::steady_clock::now();
    phaseClock_t clock;
    const counters_t startCounters = counters_t::now();
    clock.start("load");

    // The manager must outlive every object its plug-ins made (declared
    // before the scene, so destroyed after it).
    std::ostringstream pluginLog;
    pluginManager_t plugins(pluginLog);
    std::vector<std::string> warnings = loadPlugins(plugins, opt);
    if (opt.listPlugins) {
        for (const std::string& w : warnings) display.line(w);
        plugins.describe(std::cout);
        return exitOk;
    }

    catchInterrupts();
    sceneSource_t source = shareSceneSource([&] { return sourceFor(opt); });
    sceneOverrides_t overrides;
    overrides.settings = opt.settings;
    overrides.width = opt.width;
    overrides.height = opt.height;
    overrides.hasRegion = opt.hasRegion;
    for (int i = 0; i < 4; ++i) overrides.region[i] = opt.region[i];
    loadOptions_t loadOptions;
    loadOptions.workers = opt.workers;
    loadOptions.meshCache = opt.meshCache;

    std::unique_ptr<loadedScene_t> loaded;
    int width = 0, height = 0;
    std::string outputPath;
    std::unique_ptr<imageSink_t> sink;
    {
        loaded = loadScene(source, overrides, plugins, loadOptions);
        // Loading frees large buffers (the mesh file's text and tables) that
        // the allocator would otherwise keep for reuse through the render.
        malloc_trim(0);
        for (const std::string& w : loaded->warnings) warnings.push_back(w);
        for (const std::string& w : warnings) display.line(w);
        if (opt.strict && !warnings.empty())
            failRun(std::to_string(warnings.size()) + (warnings.size() == 1 ? " warning" : " warnings") +
                    " with --strict");

        if (opt.hasSeed || loaded->hasSeed) {
            int seed = opt.hasSeed ? opt.seed : loaded->seed;
            myseed = seed;
            std::srand(static_cast<unsigned>(seed));
        }
        if (!isRenderRoot()) return renderRank(*loaded->scene, opt);
        outputPath = !opt.output.empty()           ? opt.output
                     : !loaded->outputFile.empty() ? loaded->outputFile
                                                   : "render.png";
        outputSettings_t settings = loaded->output;
        settings.alpha = opt.alpha || loaded->saveAlpha;
        std::string error;
        std::vector<std::string> notes;
        if (!checkOutput(outputPath, settings, error, notes)) failRun(error);
        for (const std::string& n : notes) display.line("vexlar: warning: " + n);
        imageFormat_t format = formatOf(outputPath);
        // Found out before rendering that the output cannot be written, not after.
        atomicFile_t file;
        if (!file.open(outputPath, error)) failRun("cannot write \"" + outputPath + "\": " + error);
        checkImageMemory(*loaded);
        const std::string tempName = file.tempPath();
        noteTemporaryFile(tempName.c_str());
        if (interruptRequested()) failRun("interrupted before rendering", exitInterrupted);

        clock.start("render");
        // Only the depth-of-field filter and OpenEXR files use the depth.
        const bool keepDepth = !loaded->filters.empty() || format == imageFormat_t::exr;
        sink.reset(
            new imageSink_t(loaded->width, loaded->height, loaded->region, interruptFlag(), keepDepth));
        if (auto* forked = dynamic_cast<forkedscene_t*>(loaded->scene.get())) {
            forked->setInterruptFlag(interruptFlag());
            forked->setStallTimeout(opt.stallTimeout);
        }
        renderImageOrJob(*loaded->scene, *sink, opt, outputPath, interruptFlag());
        if (sink->aborted() || interruptRequested()) {
            acknowledgeInterrupt();
            forgetTemporaryFile(tempName.c_str());
            file.discard();
            std::string partial = partialName(outputPath);
            if (!saveImage(partial, sink->colour, sink->depths(), settings, error))
                failRun("interrupted; the partial image could not be saved: " + error, exitInterrupted);
            failRun("interrupted; the blocks finished so far are in \"" + partial + "\"", exitInterrupted);
        }

        clock.start("filters");
        if (!loaded->filters.empty()) applyFilters(loaded->filters, sink->colour, sink->depth);
        // Writing needs the picture only: the scene's memory (mostly its
        // meshes) goes back first, so that the file's buffers do not add to
        // the run's peak.
        width = loaded->width;
        height = loaded->height;
        loaded.reset();

        clock.start("write");
        if (!writeImageTo(file, format, sink->colour, sink->depths(), settings, error) || !file.commit(error))
            failRun("cannot write \"" + outputPath + "\": " + error);
        forgetTemporaryFile(tempName.c_str());
        clock.stop();
    }
    if (!opt.quiet)
        std::cout << "vexlar: wrote " << outputPath << " (" << width << " x " << height << ") "
                  << tookText(std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count())
                  << "\n";
    if (opt.stats)
        clock.report(std::cout, counters_t::now().since(startCounters), width, height, opt.workers);
    return exitOk;
}

} // namespace

int runVexlar(int argc, const char* const* argv) {
    options_t opt;
    int status = parseOptions(argc, argv, opt, std::cout, std::cerr);
    if (status >= 0) return status;
    if (opt.listFormats) {
        std::cout << formatListText();
        return exitOk;
    }
    try {
        return renderScene(opt);
    } catch (const runFailure_t& f) {
        std::cerr << f.message << std::endl;
        return f.status;
    } catch (const sceneError_t& e) {
        std::cerr << e.what() << std::endl;
        return exitFailure;
    } catch (const std::bad_alloc&) {
        std::cerr << "vexlar: error: out of memory" << std::endl;
        return exitFailure;
    } catch (const std::exception& e) {
        std::cerr << "vexlar: error: " << e.what() << std::endl;
        return exitFailure;
    }
}

} // namespace host
} // namespace vexlar
