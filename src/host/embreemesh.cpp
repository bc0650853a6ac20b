#include "host/embreemesh.h"

#include "vexlarcore/renderstate.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <mutex>

#include <embree3/rtcore.h>

namespace vexlar {
namespace host {

namespace {

// One device for the whole process, made on first use and never released:
// forked workers inherit it, and releasing it at exit would only cost time.
RTCDevice device(std::string& error) {
    static std::once_flag once;
    static RTCDevice dev = nullptr;
    static std::string failure;
    std::call_once(once, [] {
        dev = rtcNewDevice(nullptr);
        if (dev == nullptr) {
            failure =
                "Embree could not start: " +
                std::string(rtcGetDeviceError(nullptr) == RTC_ERROR_NONE ? "unknown error" : "device error");
        }
    });
    error = failure;
    return dev;
}

// The context the filter reads: the triangle the ray must not report (the
// one it starts from), as an index, or none.
struct skipContext_t {
    RTCIntersectContext base;
    unsigned skip;
};

void skipFilter(const RTCFilterFunctionNArguments* args) {
    const auto* ctx = reinterpret_cast<const skipContext_t*>(args->context);
    for (unsigned i = 0; i < args->N; ++i) {
        if (args->valid[i] != -1) continue;
        if (RTCHitN_primID(args->hit, args->N, i) == ctx->skip) args->valid[i] = 0;
    }
}

} // namespace

struct embreeMesh_t::impl_t {
    RTCScene scene = nullptr;
    ~impl_t() {
        if (scene != nullptr) rtcReleaseScene(scene);
    }
};

embreeMesh_t* embreeMesh_t::wrap(meshObject_t* m, std::string& error) {
    std::unique_ptr<meshObject_t> owned(m);
    RTCDevice dev = device(error);
    if (dev == nullptr) return nullptr;
    auto impl = std::make_unique<impl_t>();
    impl->scene = rtcNewScene(dev);
    rtcSetSceneFlags(impl->scene, RTC_SCENE_FLAG_CONTEXT_FILTER_FUNCTION);
    const std::size_t nv = m->points.size();
    const std::size_t nt = m->triangles.size();
    if (nt == 0) {
        rtcCommitScene(impl->scene);
        return new embreeMesh_t(owned.release(), std::move(impl));
    }
    RTCGeometry geom = rtcNewGeometry(dev, RTC_GEOMETRY_TYPE_TRIANGLE);
    // Embree reads vertices with 16-byte loads: its own buffer has the
    // padding that the mesh's tightly packed array lacks.
    auto* v = static_cast<float*>(
        rtcSetNewGeometryBuffer(geom, RTC_BUFFER_TYPE_VERTEX, 0, RTC_FORMAT_FLOAT3, 3 * sizeof(float), nv));
    auto* idx = static_cast<unsigned*>(
        rtcSetNewGeometryBuffer(geom, RTC_BUFFER_TYPE_INDEX, 0, RTC_FORMAT_UINT3, 3 * sizeof(unsigned), nt));
    if (v == nullptr || idx == nullptr) {
        rtcReleaseGeometry(geom);
        error = "Embree could not allocate the buffers of a mesh of " + std::to_string(nt) + " triangles";
        return nullptr;
    }
    for (std::size_t i = 0; i < nv; ++i) {
        v[3 * i] = m->points[i].x;
        v[3 * i + 1] = m->points[i].y;
        v[3 * i + 2] = m->points[i].z;
    }
    const point3d_t* base = m->points.data();
    for (std::size_t t = 0; t < nt; ++t) {
        const triangle_t& tr = m->triangles[t];
        idx[3 * t] = static_cast<unsigned>(tr.pa - base);
        idx[3 * t + 1] = static_cast<unsigned>(tr.pb - base);
        idx[3 * t + 2] = static_cast<unsigned>(tr.pc - base);
    }
    rtcCommitGeometry(geom);
    rtcAttachGeometry(impl->scene, geom);
    rtcReleaseGeometry(geom);
    rtcCommitScene(impl->scene);
    if (rtcGetDeviceError(dev) != RTC_ERROR_NONE) {
        error = "Embree could not build the tree of a mesh of " + std::to_string(nt) + " triangles";
        return nullptr;
    }
    return new embreeMesh_t(owned.release(), std::move(impl));
}

bool embreeMesh_t::shoot(renderState_t& state, surfacePoint_t& sp, const point3d_t& from,
                         const vector3d_t& ray, bool shadow, float dist) const {
    ++rays;
    const std::vector<triangle_t>& tris = mesh->triangles;
    if (tris.empty()) return false;
    skipContext_t ctx;
    rtcInitIntersectContext(&ctx.base);
    ctx.base.filter = skipFilter;
    ctx.skip = RTC_INVALID_GEOMETRY_ID;
    const auto* skipped = static_cast<const triangle_t*>(state.skipElement);
    if (skipped != nullptr && skipped >= tris.data() && skipped < tris.data() + tris.size())
        ctx.skip = static_cast<unsigned>(skipped - tris.data());
    // Hits must lie strictly between 0 and dist.
    const float far = dist >= 0 ? std::nextafter(dist, 0.0f) : std::numeric_limits<float>::infinity();
    RTCRayHit rh;
    rh.ray.org_x = from.x;
    rh.ray.org_y = from.y;
    rh.ray.org_z = from.z;
    rh.ray.dir_x = ray.x;
    rh.ray.dir_y = ray.y;
    rh.ray.dir_z = ray.z;
    rh.ray.tnear = std::numeric_limits<float>::denorm_min();
    rh.ray.tfar = far;
    rh.ray.mask = 0xFFFFFFFFu;
    rh.ray.flags = 0;
    rh.ray.time = 0.0f;
    if (shadow) {
        rtcOccluded1(impl->scene, &ctx.base, &rh.ray);
        return rh.ray.tfar < 0.0f; // Embree marks an occluded ray with tfar = -inf
    }
    rh.hit.geomID = RTC_INVALID_GEOMETRY_ID;
    rh.hit.primID = RTC_INVALID_GEOMETRY_ID;
    rtcIntersect1(impl->scene, &ctx.base, &rh);
    if (rh.hit.geomID == RTC_INVALID_GEOMETRY_ID) return false;
    const triangle_t& best = tris[rh.hit.primID];
    const point3d_t p = from + rh.ray.tfar * ray;
    surfacePoint_t hit = best.getSurface(p, rh.ray.tfar, mesh->hasOrco);
    hit.object = const_cast<embreeMesh_t*>(this);
    if (hit.shader == nullptr) hit.shader = shader;
    sp = hit;
    sp.origin = &best;
    return true;
}

embreeMesh_t::embreeMesh_t(meshObject_t* m, std::unique_ptr<impl_t> i) : mesh(m), impl(std::move(i)) {
    copySettingsFrom(*m);
    settingWordB = m->settingWordB;
}

embreeMesh_t::~embreeMesh_t() = default;

void embreeMesh_t::transform(const matrix4x4_t&) {
    std::fputs("vexlar: an Embree mesh cannot be placed again after it is built\n", stderr);
    std::abort();
}

} // namespace host
} // namespace vexlar

// The module's entry, found by name when the program loads the module
// (modules.h): wraps `mesh`, or returns null with `*error` set.
extern "C" __attribute__((visibility("default"))) vexlar::object3d_t*
vexlarEmbreeWrap(vexlar::meshObject_t* mesh, std::string* error) {
    return vexlar::host::embreeMesh_t::wrap(mesh, *error);
}
