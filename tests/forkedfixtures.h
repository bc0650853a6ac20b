// The forked driver's test scene and checks: 200 x 150 pixels (12 blocks) of
// two spheres and a triangle, depth of field and adaptive anti-aliasing, so
// that random draws and Halton sequences matter; the image as a map of
// pixels; and whether every worker was reaped.
#ifndef VEXLAR_TESTS_FORKEDFIXTURES_H
#define VEXLAR_TESTS_FORKEDFIXTURES_H

#include <cerrno>
#include <map>
#include <memory>
#include <tuple>

#include <sys/wait.h>

#include "scene_fixtures.h"
#include "test_support.h"
#include "vexlarcore/forkedscene.h"
#include "vexlarcore/mesh.h"
#include "vexlarcore/sampling.h"
#include "vexlarcore/sphere.h"

namespace fixtures {

/// Colour, alpha and depth of every pixel, by (x, y).
typedef std::map<std::pair<int, int>, std::tuple<float, float, float, float, float>> pixelMap_t;

inline pixelMap_t pixelsOf(const recordingOutput_t& out) {
    pixelMap_t img;
    for (const pixel_t& p : out.calls)
        img[{p.x, p.y}] = std::make_tuple(p.c.R, p.c.G, p.c.B, p.alpha, p.depth);
    return img;
}

/// Whether this process has no child left, running or unreaped.
inline bool noChildLeft() {
    int status;
    return waitpid(-1, &status, WNOHANG) < 0 && errno == ECHILD;
}

/// The scene, rendered by `workers` processes with the random sequences
/// seeded alike every time; `override` shades every object instead of the
/// plain Lambert shader.
struct forkedTestScene_t {
    explicit forkedTestScene_t(int workers, bool qmc = false, const shader_t* override = nullptr,
                               float aperture = 0.05f)
        : cam(point3d_t(0, 0, 0), point3d_t(0, 0, -1), point3d_t(0, 1, 0), 200, 150, 1.2f, aperture, 4.0f,
              qmc) {
        std::vector<point3d_t> pts{point3d_t(-3, -1, -6), point3d_t(3, -1, -6), point3d_t(0, 2, -7)};
        tri.reset(meshObject_t::factory(pts, {}, {triangle_t(&pts[0], &pts[1], &pts[2])}, {}, {}));
        for (object3d_t* o : {(object3d_t*)&ball, (object3d_t*)&small, (object3d_t*)tri.get()}) {
            o->setShader(override ? override : &shader);
            scene.addObject(o);
        }
        scene.addLight(&lamp);
        scene.setBackground(&sky);
        scene.setAntialiasing(1, 4, 1.0f, 0.05f);
        support::captured([&] { scene.setCamera(&cam); });
        scene.setWorkers(workers);
        srand(7);
        myseed = 123212;
    }
    /// Standard output of the render (standard error into `err`).
    std::string render(colorOutput_t& out, std::string* err = nullptr) {
        return support::captured([&] { scene.render(out); }, err);
    }
    camera_t cam;
    lambertShader_t shader{color_t(0.8f, 0.6f, 0.3f)};
    sphere_t ball{point3d_t(0, 0, -4), 1.0f}, small{point3d_t(1.2f, 0.6f, -3), 0.4f};
    std::unique_ptr<meshObject_t> tri;
    pointLight_t lamp{point3d_t(3, 4, 2), color_t(1.0f)};
    constantBackground_t sky{color_t(0.1f, 0.2f, 0.4f)};
    forkedscene_t scene;
};

} // namespace fixtures

#endif
