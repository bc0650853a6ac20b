# Blender materials to vexlar shaders.
#
# A material's surface is read from its Principled BSDF into a neutral
# description (principled_t); SHADER_MAPPING turns that into a vexlar
# shader. The first mapping whose shader type the vexlar program offers
# wins, so a richer shader (a physically based one, say) is added by
# putting its function in front of the list.

# Principled BSDF input names, Blender 4.x first, then 3.x.
INPUT_NAMES = {
    "base_color": ("Base Color",),
    "metallic": ("Metallic",),
    "roughness": ("Roughness",),
    "ior": ("IOR",),
    "transmission": ("Transmission Weight", "Transmission"),
    "emission": ("Emission Color", "Emission"),
    "emission_strength": ("Emission Strength",),
    "specular": ("Specular IOR Level", "Specular"),
}


class principled_t:
    """What vexlar uses of a surface: linear colours, factors 0..1."""

    def __init__(self):
        self.base_color = (0.8, 0.8, 0.8)
        self.metallic = 0.0
        self.roughness = 0.5
        self.ior = 1.45
        self.transmission = 0.0
        self.emission = (0.0, 0.0, 0.0)  # colour times strength
        self.specular = 0.5
        self.image = None  # bpy image on the base colour
        self.image_extension = "REPEAT"
        self.image_interpolate = True


def _input(node, key):
    for name in INPUT_NAMES[key]:
        sock = node.inputs.get(name)
        if sock is not None:
            return sock
    return None


def _value(node, key, default):
    sock = _input(node, key)
    if sock is None:
        return default
    v = sock.default_value
    try:
        return tuple(v)[:3]
    except TypeError:
        return float(v)


def _surfaceNode(material):
    """The node feeding the active material output's surface, or None."""
    if not material.use_nodes or material.node_tree is None:
        return None
    outputs = [n for n in material.node_tree.nodes if n.type == "OUTPUT_MATERIAL"]
    active = [n for n in outputs if n.is_active_output] or outputs
    if not active:
        return None
    surface = active[0].inputs.get("Surface")
    if surface is None or not surface.is_linked:
        return None
    return surface.links[0].from_node


def _linkedImage(sock):
    """The image texture node directly on a socket, or None."""
    if sock is None or not sock.is_linked:
        return None
    node = sock.links[0].from_node
    if node.type == "TEX_IMAGE" and node.image is not None:
        return node
    return None


def readMaterial(material):
    """(principled_t, warning or None) of a Blender material (None: the
    default grey). Node set-ups other than a Principled BSDF fall back to
    their colour."""
    p = principled_t()
    if material is None:
        return p, None
    node = _surfaceNode(material)
    if node is not None and node.type == "BSDF_PRINCIPLED":
        p.base_color = _value(node, "base_color", p.base_color)
        p.metallic = _value(node, "metallic", p.metallic)
        p.roughness = _value(node, "roughness", p.roughness)
        p.ior = _value(node, "ior", p.ior)
        p.transmission = _value(node, "transmission", p.transmission)
        p.specular = _value(node, "specular", p.specular)
        strength = _value(node, "emission_strength", 1.0)
        p.emission = tuple(c * strength for c in _value(node, "emission", (0.0, 0.0, 0.0)))
        tex = _linkedImage(_input(node, "base_color"))
        if tex is not None:
            p.image = tex.image
            p.image_extension = tex.extension
            p.image_interpolate = tex.interpolation != "Closest"
        return p, None
    # Anything else: its colour input when it has one, else the viewport colour.
    color = None
    if node is not None:
        for name in ("Color", "Base Color"):
            sock = node.inputs.get(name)
            if sock is not None and hasattr(sock, "default_value"):
                color = tuple(sock.default_value)[:3]
                break
        if node.type == "EMISSION":
            strength = node.inputs["Strength"].default_value
            p.base_color = (0.0, 0.0, 0.0)
            p.emission = tuple(c * strength for c in color)
            return p, None
    if color is None:
        color = tuple(material.diffuse_color)[:3]
    p.base_color = color
    what = node.bl_label if node is not None else "no surface node tree"
    return p, ("material \"%s\": %s is not a Principled BSDF; rendered as a plain colour" % (material.name, what))


def hardness(roughness):
    """Phong exponent of a highlight about as wide as a microfacet lobe of
    this roughness (alpha = roughness^2, exponent 2 / alpha^2 - 2)."""
    a = max(roughness, 0.02) ** 2
    return min(max(2.0 / (a * a) - 2.0, 1.0), 10000.0)


def _mix(a, b, t):
    return tuple(x + (y - x) * t for x, y in zip(a, b))


def _scale(c, f):
    return [float(x) * f for x in c]


def genericShader(p, textureName):
    """The standard "generic" shader: diffuse, Phong highlight, mirror,
    refraction with Fresnel terms, emission, one image layer."""
    m, t = p.metallic, p.transmission
    dielectric = 0.08 * p.specular  # F0 of 0.04 at Specular 0.5
    f0 = _mix((dielectric,) * 3, p.base_color, m)
    gloss = (1.0 - p.roughness) ** 2
    s = {
        "type": "generic",
        "color": _scale(p.base_color, (1.0 - m) * (1.0 - t)),
        "specular_color": _scale(f0, 1.0 - p.roughness),
        "hard": round(hardness(p.roughness), 3),
        "specular_model": "blinn",
    }
    if m > 0.0:
        s["mirror_color"] = _scale(p.base_color, m * gloss)
    if t > 0.0:
        s["transmit_color"] = _scale(p.base_color, t * (1.0 - m))
        s["mirror_color"] = [max(a, t * (1.0 - m)) for a in s.get("mirror_color", [0.0, 0.0, 0.0])]
        s["ior"] = float(p.ior)
        s["fresnel"] = True
    if any(c > 0.0 for c in p.emission):
        s["emit_color"] = _scale(p.emission, 1.0)
    if textureName:
        s["layer1_texture"] = textureName
        s["layer1_coords"] = "uv"
        s["layer1_colfac"] = 1.0
        s["layer1_clip"] = {"REPEAT": "repeat", "CLIP": "clip"}.get(p.image_extension, "clamp")
        # The texture replaces the base colour, so it carries the diffuse share.
        if m > 0.0 or t > 0.0:
            s["diffuse"] = (1.0 - m) * (1.0 - t)
    return s


# (vexlar shader type, function of (principled_t, texture name or None)).
SHADER_MAPPING = [
    ("generic", genericShader),
]


def shaderFor(p, textureName, available=None):
    """The vexlar shader of a surface; `available` is the set of shader
    types the program offers (None: assume the standard ones)."""
    for kind, build in SHADER_MAPPING:
        if available is None or kind in available:
            return build(p, textureName)
    raise RuntimeError("the vexlar program offers none of the shader types " +
                       ", ".join(k for k, _ in SHADER_MAPPING))


def imageTexture(filename, p):
    return {
        "type": "image",
        "filename": filename,
        "interpolate": bool(p.image_interpolate),
        "wrap": {"REPEAT": "repeat", "MIRROR": "mirror"}.get(p.image_extension, "clamp"),
    }
