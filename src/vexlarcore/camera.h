// Camera: turns pixel positions into primary rays.
//
// A pinhole perspective camera or an orthographic camera, each optionally
// with a thin-lens depth of field. Everything a ray needs is derived once in
// the constructor; shootRay only combines the stored vectors.
//
// Thread-safety: shootRay mutates the camera (rayOrigin and the Halton
// states) and, with depth of field on and useQmc off, the process-wide random
// seed. One camera serves one rendering thread.
#ifndef VEXLARCORE_CAMERA_H
#define VEXLARCORE_CAMERA_H

#include "vexlarcore/vector3d.h"

namespace vexlar {

/// Projection selector. Any value other than orthoCamera selects the
/// perspective camera. The underlying type is int, so any integer read from
/// a scene file may be cast in without leaving the range of the type.
enum cameraType : int { perspectiveCamera = 0, orthoCamera = 1 };

/// One incremental Halton (radical inverse) sequence. All arithmetic is in
/// double precision. The sequence starts after 0: the first value is 1/base.
class halton_t {
public:
    halton_t() : base(2), invBase(0.5), value(0.0) {}
    explicit halton_t(int b) { setBase(b); }

    /// Restarts the sequence in base b (b >= 2).
    void setBase(int b) {
        base = b;
        invBase = 1.0 / static_cast<double>(b);
        value = 0.0;
    }

    /// Advances the sequence and returns its new value, in (0, 1).
    double getNext() {
        // Adds invBase with the carry propagated to the digit that does not
        // overflow; the 1e-10 keeps rounding from triggering a false carry.
        double r = 1.0 - value - 1e-10;
        if (invBase < r) {
            value += invBase;
        } else {
            double hh, h = invBase;
            do {
                hh = h;
                h *= invBase;
            } while (h >= r);
            value += hh + h - 1.0;
        }
        return value;
    }

    int base;
    double invBase;
    /// The last value returned, 0.0 before the first call.
    double value;
};

/// Perspective or orthographic camera with optional thin-lens depth of field.
///
/// Image axes: pixel x runs from 0 (left edge) to resx (right edge), pixel y
/// from 0 (top edge) to resy (bottom edge). Pixels are square: the image plane
/// is one unit wide and resy/resx units high, `focal` units in front of the
/// eye; the orthographic view rectangle is lookDistance/focal units wide and
/// centred on the eye.
///
/// Preconditions: resx > 0, resy > 0, focal != 0 (otherwise the projection
/// divides by zero).
///
/// Degenerate frames, handled so that every direction the camera produces is
/// finite and, for shootRay, of unit length:
///  - Look-at point equal to the eye (no viewing direction): the camera looks
///    along -z. lookDistance stays 0, so the orthographic view rectangle
///    collapses onto the eye; the perspective projection is unaffected.
///  - Up point on the viewing line or equal to the eye (no direction across
///    the view): the up direction falls back to world +y, or world +z when
///    the camera looks along the y axis.
/// In both cases the remaining steps are exactly those of a regular camera.
class camera_t {
public:
    /// `from` is the eye; `to` the look-at point; `up` a point (not a
    /// direction) whose offset from the eye gives the image's up direction.
    /// `focal` is the distance of the unit-wide image plane; `aperture` the
    /// lens radius (0 switches depth of field off); `focusDistance` the
    /// distance of the sharp surface, measured along each pinhole ray.
    /// `useQmc` takes lens samples from the bases 2 and 3 Halton sequences
    /// instead of the library's random generator.
    camera_t(const point3d_t& from, const point3d_t& to, const point3d_t& up, int resx, int resy, float focal,
             float aperture = 0.0f, float focusDistance = 1.0f, bool useQmc = false,
             cameraType type = perspectiveCamera);
    ~camera_t();

    /// Unit direction of the ray through pixel position (x, y); the ray starts
    /// at rayOrigin, which this call updates (moved across the lens when
    /// depth of field is on). Read rayOrigin right after the call.
    vector3d_t shootRay(float x, float y);

    /// The eye position.
    point3d_t pos;
    /// Origin of the last ray shot (the eye until the first shot).
    point3d_t rayOrigin;
    /// Orthographic origin of pixel position (0, 0).
    point3d_t orthoCorner;
    /// Distance from the eye to the unit-wide image plane.
    float focal;
    /// Distance from the eye to the surface in focus.
    float focusDistance;
    /// Perspective direction to the top-left corner of the image plane.
    vector3d_t vto;
    /// Perspective step per pixel downwards.
    vector3d_t vup;
    /// Perspective step per pixel to the right.
    vector3d_t vright;
    /// Lens axis: aperture times the unit down direction.
    vector3d_t dofUp;
    /// Lens axis: aperture times the unit right direction.
    vector3d_t dofRight;
    /// Orthographic origin step per pixel to the right.
    vector3d_t orthoRight;
    /// Orthographic origin step per pixel downwards.
    vector3d_t orthoUp;
    /// Unit viewing direction.
    vector3d_t viewDir;
    int resx;
    int resy;
    /// Distance from the eye to the look-at point.
    float lookDistance;
    /// Lens radius; 0 means no depth of field.
    float aperture;
    /// Lens samples from halton2/halton3 instead of the random generator.
    bool useQmc;
    halton_t halton2;
    halton_t halton3;
    cameraType camType;
};

} // namespace vexlar

#endif
