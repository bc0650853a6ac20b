// Checks of a plug-in module made before and after the system loader sees
// it, so that a damaged file is reported as a failed module instead of
// crashing the program: the loader maps a truncated library and faults
// (SIGBUS) when it touches the missing pages, and a module exporting its
// entry point's name as data would be called as if it were code.
#ifndef VEXLAR_MODULECHECK_H
#define VEXLAR_MODULECHECK_H

#include <string>

namespace vexlar {

/// "" when `path` is a regular file holding a shared library of this
/// machine's kind (ELF class, byte order and architecture of the running
/// program) that is as long as its headers say: its program headers, every
/// loaded segment and its section headers lie inside the file. Otherwise
/// the reason ("not an ELF file", "the file is truncated: ...").
std::string moduleFileFault(const std::string& path);

/// True when `address` is the start of a function symbol (a plain or an
/// indirect function) of a loaded module; false for data or unknown
/// addresses.
bool isFunctionSymbol(const void* address);

} // namespace vexlar

#endif
