// The vexlar program: command line, plug-ins, scene, render, post filters,
// image, statistics and Ctrl-C handling.
#ifndef VEXLAR_HOST_APP_H
#define VEXLAR_HOST_APP_H

namespace vexlar {
namespace host {

/// Runs the program; returns its exit status (see exitStatus_t).
int runVexlar(int argc, const char* const* argv);

} // namespace host
} // namespace vexlar

#endif
