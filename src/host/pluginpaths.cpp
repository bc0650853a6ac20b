#include "host/pluginpaths.h"

#include <climits>
#include <cstdlib>

#include <sys/stat.h>
#include <unistd.h>

namespace vexlar {
namespace host {

namespace {

std::string canonical(const std::string& path) {
    char buffer[PATH_MAX];
    if (realpath(path.c_str(), buffer) == nullptr) return path;
    return buffer;
}

bool isDirectory(const std::string& path) {
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

std::string executablePath() {
    char buffer[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return std::string();
    buffer[n] = '\0';
    return buffer;
}

std::vector<std::string> pluginDirCandidates(const std::string& exePath) {
    const std::string buildDir = VEXLAR_PLUGIN_BUILD_DIR;
    const std::string installDir = VEXLAR_PLUGIN_INSTALL_DIR;
    std::string exeDir;
    std::size_t slash = exePath.rfind('/');
    if (slash != std::string::npos) exeDir = exePath.substr(0, slash);
    if (!exeDir.empty() && canonical(exeDir) == canonical(VEXLAR_HOST_BUILD_DIR))
        return {buildDir, installDir};
    std::vector<std::string> dirs;
    if (!exeDir.empty()) dirs.push_back(exeDir + "/../" + VEXLAR_PLUGIN_INSTALL_RELDIR);
    dirs.push_back(installDir);
    dirs.push_back(buildDir);
    return dirs;
}

std::string findPluginDir(const std::vector<std::string>& candidates) {
    for (const std::string& d : candidates)
        if (isDirectory(d)) return d;
    return std::string();
}

} // namespace host
} // namespace vexlar
