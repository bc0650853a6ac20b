#include "vexlarcore/sharedlibrary.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "vexlarcore/messages.h"

#include <dirent.h>
#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>

namespace vexlar {

namespace {

const char errPrefix[] = "dlsimple: ";
const int errSize = 256;

// Set while a handle opens or looks up quietly: the loader's message is kept
// but not reported. Process-wide and unlocked, like the error text.
bool loaderQuiet = false;

class quietLoader_t {
public:
    quietLoader_t() : saved(loaderQuiet) { loaderQuiet = true; }
    ~quietLoader_t() { loaderQuiet = saved; }
    quietLoader_t(const quietLoader_t&) = delete;
    quietLoader_t& operator=(const quietLoader_t&) = delete;

private:
    bool saved;
};

void reportLoaderError(const std::string& text) {
    if (!loaderQuiet)
        emitMessage(messageLevel_t::error, messageStream_t::standardError, "dlerror: " + text + "\n");
}

} // namespace

const char* osxerror(int kind, const char* format, ...) {
    static char errstr[errSize];
    static int err_filled = 0;

    if (kind > 0) {
        const char* pending = err_filled ? errstr : nullptr;
        err_filled = 0;
        return pending;
    }

    const size_t prefixLen = sizeof(errPrefix) - 1;
    std::memcpy(errstr, errPrefix, prefixLen);
    errstr[prefixLen] = '\0';
    if (format) {
        va_list args;
        va_start(args, format);
        std::vsnprintf(errstr + prefixLen, errSize - prefixLen, format, args);
        va_end(args);
    }
    if (kind == 0) {
        // The loader's own explanation (which names the file and the reason)
        // is shown at once and, being more useful than ours, wins whenever it
        // has one.
        const char* loaderMsg = dlerror();
        if (!loaderMsg) loaderMsg = "";
        if (!loaderQuiet)
            emitMessage(messageLevel_t::error, messageStream_t::standardOutput,
                        std::string("dyld: ") + loaderMsg + "\n");
        if (loaderMsg[0] != '\0') std::snprintf(errstr, errSize, "%s", loaderMsg);
    }
    err_filled = 1;
    return nullptr;
}

const char* osxdlerror() {
    return osxerror(1, nullptr);
}

void* osxdlopen(const char* path, int mode) {
    if (!path) return dlProgramHandle();
    // Drop any stale loader message so that a failure below reports its own.
    dlerror();
    if (path[0] == '\0') {
        // The system loader would hand back the running program for "", which
        // is not a library file.
        osxerror(0, "Can not open \"%s\"", path);
        return nullptr;
    }
    // The path names a file: keep a bare name from going through the system's
    // library search path, which could load an unrelated library of that name.
    std::string file(path);
    if (file.find('/') == std::string::npos) file = "./" + file;

    int flags = (mode & 1) ? RTLD_LAZY : RTLD_NOW;
    flags |= (mode & 4) ? RTLD_GLOBAL : RTLD_LOCAL;
    void* handle = dlopen(file.c_str(), flags);
    if (!handle) {
        osxerror(0, "Can not open \"%s\"", path);
        return nullptr;
    }
    return handle;
}

void* osxdlsym(void* handle, const char* name) {
    if (!name) {
        osxerror(-1, "symname \"%s\" Not found", "");
        return nullptr;
    }
    if (!handle) {
        osxerror(-1, "symname \"%s\" Not found", name);
        return nullptr;
    }
    dlerror();
    void* lookIn = (handle == dlProgramHandle()) ? RTLD_DEFAULT : handle;
    void* address = dlsym(lookIn, name);
    if (!address) {
        // A symbol whose value really is null is indistinguishable for the
        // callers from a missing one, so it is reported the same way.
        osxerror(0, "symname \"%s\" Not found", name);
        return nullptr;
    }
    return address;
}

int osxdlclose(void* handle) {
    if (handle == dlProgramHandle()) {
        osxerror(-1, "Can't close the running program");
        return 0;
    }
    if (!handle) {
        osxerror(-1, "unable to unlink module %s", "(null)");
        return 0;
    }
    std::string name;
    struct link_map* map = nullptr;
    if (dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name) name = map->l_name;
    dlerror();
    if (dlclose(handle) != 0) {
        osxerror(0, "unable to unlink module %s", name.c_str());
        return 0;
    }
    return 1;
}

sharedlibrary_t::sharedlibrary_t() : refcount(nullptr), handle(nullptr) {}

sharedlibrary_t::sharedlibrary_t(const std::string& name) : refcount(nullptr), handle(nullptr) {
    open(name);
}

sharedlibrary_t::sharedlibrary_t(const sharedlibrary_t& other) : refcount(nullptr), handle(other.handle) {
    if (handle) {
        refcount = other.refcount;
        ++*refcount;
    }
}

sharedlibrary_t& sharedlibrary_t::operator=(const sharedlibrary_t& other) {
    if (this == &other || (handle && handle == other.handle && refcount == other.refcount)) return *this;
    // Take the new reference before dropping the old one, so that assigning a
    // copy of the same library never unloads it in between.
    if (other.handle) ++*other.refcount;
    release();
    handle = other.handle;
    refcount = other.handle ? other.refcount : nullptr;
    return *this;
}

sharedlibrary_t::~sharedlibrary_t() {
    release();
}

void sharedlibrary_t::release() {
    if (!handle) return;
    if (--*refcount <= 0) {
        osxdlclose(handle);
        delete refcount;
    }
    handle = nullptr;
    refcount = nullptr;
}

void sharedlibrary_t::open(const std::string& name) {
    // Reopening must not leak the reference this handle already holds.
    release();
    handle = osxdlopen(name.c_str(), 2);
    if (!handle) {
        const char* text = osxdlerror();
        failure = text ? text : "";
        reportLoaderError(failure);
        return;
    }
    failure.clear();
    refcount = new int(1);
}

bool sharedlibrary_t::openQuietly(const std::string& name) {
    quietLoader_t quiet;
    open(name);
    return isOpen();
}

void sharedlibrary_t::close() {
    if (!handle) return;
    osxdlclose(handle);
    handle = nullptr;
    delete refcount;
    refcount = nullptr;
}

void* sharedlibrary_t::getSymbol(const char* name) {
    if (!handle) return nullptr;
    void* address = osxdlsym(handle, name);
    if (!address) {
        const char* text = osxdlerror();
        failure = text ? text : "";
        reportLoaderError(failure);
    } else {
        failure.clear();
    }
    return address;
}

void* sharedlibrary_t::getSymbolQuietly(const char* name) {
    quietLoader_t quiet;
    return getSymbol(name);
}

std::list<std::string>& listDir(const std::string& dir) {
    static std::list<std::string> lista;
    lista.clear();
    DIR* d = opendir(dir.c_str());
    if (!d) return lista;
    while (struct dirent* entry = readdir(d)) {
        std::string full = dir + "/" + entry->d_name;
        struct stat st;
        if (stat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode)) lista.push_back(full);
    }
    closedir(d);
    return lista;
}

} // namespace vexlar
