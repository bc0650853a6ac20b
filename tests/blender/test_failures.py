# How the add-on fails: every way of not getting a picture is one clear
# message (no traceback), and a cancelled render leaves no vexlar process.

import glob
import os
import stat
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import fixtures as fx  # noqa: E402
from vexlar_render import runner  # noqa: E402


def fakeProgram(name, body):
    path = os.path.join(fx.WORK, name)
    with open(path, "w") as f:
        f.write("#!/bin/sh\n" + body + "\n")
    os.chmod(path, os.stat(path).st_mode | stat.S_IXUSR)
    return path


# (what, program or None for "not on PATH", the words the error must hold)
FAILURES = [
    ("missing program", "/nonexistent/vexlar", ["/nonexistent/vexlar", "does not exist"]),
    ("not on PATH", None, ["not found on PATH", "Preferences"]),
    ("scene error", "echo 'scene.json:3:9: error: camera.focal: expected a number' >&2; exit 1",
     ["scene.json:3:9: error: camera.focal"]),
    ("crash", "kill -SEGV $$", ["stopped unexpectedly", "SIGSEGV"]),
    ("silent failure", "exit 3", ["exit status 3", "without a message"]),
]


def vexlarProcesses(marker):
    """Processes whose command line holds `marker`."""
    found = []
    for cmdline in glob.glob("/proc/[0-9]*/cmdline"):
        try:
            with open(cmdline, "rb") as f:
                found += [cmdline] if marker.encode() in f.read() else []
        except OSError:
            pass
    return found


def body(checks):
    real = fx.program()
    fx.buildScene("point")
    path_env = os.environ["PATH"]
    for i, (what, program, words) in enumerate(FAILURES):
        os.environ.pop("VEXLAR_PROGRAM", None)
        if program is None:
            os.environ["PATH"] = fx.WORK
        elif program.startswith("/"):
            os.environ["VEXLAR_PROGRAM"] = program
        else:
            os.environ["VEXLAR_PROGRAM"] = fakeProgram("fake%d" % i, program)
        # Blender turns the engine's error into the operator's error report
        # (a RuntimeError for scripts, the status bar for the interface).
        raised = ""
        try:
            fx.render("VEXLAR", os.path.join(fx.WORK, "fail%d.exr" % i))
        except RuntimeError as e:
            raised = str(e)
        os.environ["PATH"] = path_env
        errors = [m for level, m in fx.vexlarEngine.last_messages if level == "ERROR"]
        text = " | ".join(errors)
        print("%s: %s" % (what, text))
        checks.expect(len(errors) == 1, "%s: expected one error message, got %r" % (what, errors))
        checks.expect(all(w in text for w in words), "%s: the message %r lacks %r" % (what, text, words))
        checks.expect(raised.strip() == "Error: " + text, "%s: Blender reported %r" % (what, raised))
        checks.expect("Traceback" not in raised, "%s: the report is a traceback" % what)
    os.environ["VEXLAR_PROGRAM"] = real

    # Cancelling: a render far too big to finish, stopped once progress
    # shows; vexlar and its workers must be gone when run() returns.
    fx.bpy.context.scene.render.resolution_percentage = 1000
    folder = os.path.join(fx.WORK, "cancel")
    os.makedirs(folder)
    scene_path, scene, _ = fx.vexlarEngine.writeScene(fx.bpy.context.evaluated_depsgraph_get(), folder)
    w, h = scene["camera"]["resolution"]
    seen = []

    def cancelled():
        # Cancel once vexlar has been seen running (twice, so it is past its start).
        seen.append(len(vexlarProcesses(scene_path)))
        return sum(1 for n in seen if n) >= 2

    result = runner.run([real, "-j", "2", "--size", "1600x1200", "-o", os.path.join(folder, "big.exr"), scene_path], w, h,
                        cancelled=cancelled)
    left = vexlarProcesses(scene_path)
    print("cancel: %s; processes while running %s, after %s" % (result.message, max(seen), left))
    checks.expect(result.cancelled and not result.ok, "cancel: the run was not reported as cancelled")
    checks.expect(max(seen) >= 1, "cancel: vexlar was never seen running")
    checks.expect(left == [], "cancel: processes %s were left running" % left)

    # Progress marks: "#" every ten 64-pixel blocks of the final pass; a percentage as it stands.
    prog, pct = runner.progress_t(640, 640), runner.progress_t(64, 64)  # 100 blocks; one
    for p, chunk, expected in ((prog, "Building ...", 0.0), (prog, "\rRender pass: [", 0.0),
                               (prog, "#####", 0.5), (prog, "####", 0.9), (prog, "#]\n", 1.0),
                               (pct, "rendering 42% done", 0.42)):
        p.feed(chunk)
        checks.expect(abs(p.fraction() - expected) < 1e-9,
                      "progress after %r is %.2f, expected %.2f" % (chunk, p.fraction(), expected))


fx.main(body, "Blender failures")
