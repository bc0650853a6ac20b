// A pluginContext_t for tests: records warnings, serves named textures,
// resolves paths against a chosen folder.
#ifndef VEXLAR_TESTS_PLUGINTESTCONTEXT_H
#define VEXLAR_TESTS_PLUGINTESTCONTEXT_H

#include <map>
#include <string>
#include <vector>

#include "vexlarcore/plugin.h"

class testContext_t : public vexlar::pluginContext_t {
public:
    vexlar::scene_t* scene() override { return scenePtr; }
    vexlar::texture_t* findTexture(const std::string& name) override {
        auto it = textures.find(name);
        return it == textures.end() ? nullptr : it->second;
    }
    vexlar::shader_t* findShader(const std::string&) override { return nullptr; } // no test names one
    std::string resolvePath(const std::string& name) const override {
        if (baseDir.empty() || (!name.empty() && name[0] == '/')) return name;
        return baseDir + "/" + name;
    }
    void warn(const std::string& message) override { warnings.push_back(message); }

    vexlar::scene_t* scenePtr = nullptr;
    std::map<std::string, vexlar::texture_t*> textures;
    std::string baseDir;
    std::vector<std::string> warnings;
};

#endif
