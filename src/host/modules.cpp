#include "host/modules.h"

#include <map>

#include <dlfcn.h>
#include <sys/stat.h>

#include "host/pluginpaths.h"

namespace vexlar {
namespace host {

std::vector<std::string> moduleDirCandidates(const std::string& exePath) {
    std::vector<std::string> dirs;
    for (const std::string& d : pluginDirCandidates(exePath)) {
        const std::size_t slash = d.rfind('/');
        dirs.push_back((slash == std::string::npos ? std::string(".") : d.substr(0, slash)) + "/modules");
    }
    return dirs;
}

void* moduleSymbol(const std::string& name, const char* symbol, std::string& error) {
    static std::map<std::string, void*> loaded;
    void*& handle = loaded[name];
    if (handle == nullptr) {
        std::string tried;
        for (const std::string& dir : moduleDirCandidates(executablePath())) {
            const std::string path = dir + "/" + name + ".so";
            struct stat st;
            if (stat(path.c_str(), &st) != 0) {
                tried += (tried.empty() ? "" : ", ") + dir;
                continue;
            }
            // Global binding is not needed: the module finds the library's
            // symbols through its own link to it.
            handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (handle == nullptr) {
                const char* why = dlerror();
                error = "cannot load the module " + path + ": " + (why ? why : "unknown error");
                return nullptr;
            }
            break;
        }
        if (handle == nullptr) {
            error = "the module " + name + ".so is in none of " + tried;
            return nullptr;
        }
    }
    void* address = dlsym(handle, symbol);
    if (address == nullptr) error = "the module " + name + ".so has no " + symbol;
    return address;
}

bool embreeAvailable() {
#ifdef VEXLAR_HAVE_EMBREE
    return true;
#else
    return false;
#endif
}

object3d_t* wrapWithEmbree(meshObject_t* mesh, std::string& error) {
    using wrap_f = object3d_t* (*)(meshObject_t*, std::string*);
    wrap_f wrap = nullptr;
    if (!embreeAvailable())
        error = "this vexlar was built without Embree (VEXLAR_EMBREE off; Debian: libembree-dev)";
    else
        wrap = reinterpret_cast<wrap_f>(moduleSymbol("vexlar_embree", "vexlarEmbreeWrap", error));
    if (wrap == nullptr) {
        delete mesh;
        return nullptr;
    }
    return wrap(mesh, &error);
}

} // namespace host
} // namespace vexlar
