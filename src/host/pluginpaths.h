// Where the vexlar program looks for its plug-ins.
#ifndef VEXLAR_HOST_PLUGINPATHS_H
#define VEXLAR_HOST_PLUGINPATHS_H

#include <string>
#include <vector>

namespace vexlar {
namespace host {

/// The running program's file, from /proc/self/exe ("" when unknown).
std::string executablePath();

/// The plug-in folders to try, in order, for a program at `exePath`:
///  - run from the build tree (its folder is the build's src/host): the
///    build's plug-in folder first, then the installed one;
///  - otherwise the installed one, first relative to the program
///    (<prefix>/bin/vexlar -> <prefix>/lib/vexlar/plugins, so a moved
///    installation still finds its own), then at the configured prefix,
///    then the build's.
std::vector<std::string> pluginDirCandidates(const std::string& exePath);

/// The first candidate that is a folder, or "" when none is.
std::string findPluginDir(const std::vector<std::string>& candidates);

} // namespace host
} // namespace vexlar

#endif
