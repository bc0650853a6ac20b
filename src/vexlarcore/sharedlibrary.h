// Loading of plug-in libraries and listing of plug-in directories.
//
// Three layers:
//  - a dlopen-style loader layer (osxdlopen, osxdlsym, osxdlclose,
//    osxdlerror) built on the system's dlopen family, with a one-shot error
//    text kept by osxerror;
//  - sharedlibrary_t, a small reference-counted handle that opens a library,
//    looks up symbols and unloads the library when its last copy goes;
//  - listDir, the regular files of a directory as full paths.
//
// Failures the system loader explains (opening, looking up, unloading) also
// print its message on standard output as "dyld: <message>". All printing
// goes through the library's message sink (messages.h) as errors; the texts
// are also kept as values (osxdlerror, sharedlibrary_t::lastError), and the
// quiet forms of open and getSymbol print nothing at all.
//
// Thread safety: none. The error text and listDir's result list are
// process-wide and unlocked; use all of this from one thread (the host's
// start-up code).
#ifndef VEXLARCORE_SHAREDLIBRARY_H
#define VEXLARCORE_SHAREDLIBRARY_H

#include <cstdint>
#include <list>
#include <string>

namespace vexlar {

/// The handle osxdlopen returns for a null path: the running program and
/// everything it has loaded. Its value is all bits set ((void*)-1).
inline void* dlProgramHandle() {
    return reinterpret_cast<void*>(~static_cast<std::uintptr_t>(0));
}

/// Records or fetches the loader layer's error text.
///
/// kind > 0 fetches: returns the pending text, or null if there is none, and
/// clears it (the returned buffer stays valid until the next record).
/// kind <= 0 records "dlsimple: " followed by the printf-style message, cut
/// to 255 characters. With kind exactly 0 the system loader's own pending
/// message is also printed on standard output as "dyld: <message>\n" (an
/// empty message when it has none) and, when it is non-empty, replaces the
/// whole text. Recording returns null.
const char* osxerror(int kind, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

/// Opens the library file at `path`.
///
/// A null path gives dlProgramHandle() (symbols of the running
/// program). `path` is a file path: a name without a slash is looked for in
/// the current directory, never on the system's library search path. An
/// empty path fails. `mode` bit 0 (1) binds lazily, clear binds every symbol
/// now; bit 2 (4) makes the library's symbols available to libraries loaded
/// later, clear keeps them private. Returns null on failure, with the error
/// text recorded (the loader's own message, or "dlsimple: Can not open
/// \"<path>\"").
void* osxdlopen(const char* path, int mode);

/// Looks up the plain (undecorated) symbol `name` in `handle`. Returns its
/// address, or null with the error text recorded (the loader's message, or
/// "dlsimple: symname \"<name>\" Not found"). A null handle or name fails the
/// same way.
void* osxdlsym(void* handle, const char* name);

/// Releases a handle from osxdlopen. Returns non-zero when the loader let the
/// library go (it unloads it once nothing else holds it), 0 on failure with
/// the error text recorded. The program handle cannot be closed: 0 and
/// "dlsimple: Can't close the running program".
int osxdlclose(void* handle);

/// The pending error text, or null if none; fetching clears it.
const char* osxdlerror();

/// A reference-counted handle on one loaded library.
///
/// Copies made with the copy constructor or assignment share one counter;
/// the library is unloaded when the last of them is destroyed. close()
/// unloads at once whatever copies exist: call it only on a handle that has
/// no other live copies (the others would be left with a dangling counter).
class sharedlibrary_t {
public:
    /// A closed handle.
    sharedlibrary_t();
    /// A closed handle, then open(name).
    sharedlibrary_t(const std::string& name);
    /// Shares other's library and counter (incremented) when other is open.
    sharedlibrary_t(const sharedlibrary_t& other);
    /// Releases this handle's library (as the destructor does), then shares other's.
    sharedlibrary_t& operator=(const sharedlibrary_t& other);
    /// Drops this reference; the last one unloads the library.
    ~sharedlibrary_t();

    /// True while a library is held.
    bool isOpen() const { return handle != nullptr; }
    /// Loads `name` (bind now, private symbols). A handle that was already
    /// open first drops its previous reference, unloading that library if it
    /// was the last. On failure writes "dlerror: <text>" and a newline to
    /// standard error and stays closed.
    void open(const std::string& name);
    /// Unloads the library now (see the class note) and becomes closed.
    void close();
    /// Address of the plain symbol `name`; null when closed (nothing printed)
    /// or when it is missing ("dlerror: <text>" and a newline to standard error).
    void* getSymbol(const char* name);

    /// open without printing anything (no "dlerror: " nor "dyld: " line);
    /// true when the library is open, else the reason is in lastError().
    bool openQuietly(const std::string& name);
    /// getSymbol without printing anything; null with the reason in
    /// lastError() when the symbol is missing.
    void* getSymbolQuietly(const char* name);
    /// The loader's text for the last open or symbol look-up of this handle
    /// that failed (what "dlerror: " is followed by); "" when the last one
    /// succeeded. A copy of a handle starts with "".
    const std::string& lastError() const { return failure; }

    int* refcount; ///< counter shared by the copies of one open handle
    void* handle;  ///< what osxdlopen returned; null when closed

private:
    void release();

    std::string failure;
};

/// The full paths (dir + "/" + name) of the regular files in `dir`, in the
/// order the system lists them; symbolic links count by what they point to.
/// A missing or unreadable directory gives an empty list.
///
/// The result is one process-wide list that every call overwrites; copy it
/// if you need it after the next call.
std::list<std::string>& listDir(const std::string& dir);

} // namespace vexlar

#endif
