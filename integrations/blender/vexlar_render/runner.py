# Runs the vexlar program on an exported scene: feeds its progress marks to
# a callback, stops it (with every worker it forked) when asked, and turns
# each way it can fail into one readable message.

import math
import os
import re
import signal
import subprocess
import threading
import time

BLOCK = 64  # vexlar renders 64 x 64 blocks and prints a mark every 10
_PERCENT = re.compile(r"(\d+(?:\.\d+)?)\s*%")


class progress_t:
    """Progress from vexlar's standard output: the fraction of the final
    pass done, from its "#" marks (one per ten blocks) or from a percentage
    when the program prints one."""

    def __init__(self, width, height):
        self.blocks = max(1, math.ceil(width / BLOCK) * math.ceil(height / BLOCK))
        self.text = ""

    def feed(self, chunk):
        self.text = (self.text + chunk)[-4096:]

    def fraction(self):
        start = self.text.rfind("Render pass: [")
        if start < 0:
            found = _PERCENT.findall(self.text)
            return min(float(found[-1]) / 100.0, 1.0) if found else 0.0
        marks = self.text[start:]
        if "]" in marks:
            return 1.0
        return min(10.0 * marks.count("#") / self.blocks, 0.99)


def _drain(stream, sink):
    while True:
        data = os.read(stream.fileno(), 4096)
        if not data:
            break
        sink(data.decode("utf-8", "replace"))


def failureMessage(returncode, stderr):
    """One line for a failed run: vexlar's own error line when it wrote
    one, else how the process ended."""
    lines = [ln.strip() for ln in stderr.splitlines() if ln.strip()]
    errors = [ln for ln in lines if "error" in ln.lower()]
    if returncode < 0:
        try:
            name = signal.Signals(-returncode).name
        except ValueError:
            name = "signal %d" % -returncode
        return "vexlar stopped unexpectedly (%s)%s" % (name, (": " + errors[-1]) if errors else "")
    if errors:
        return errors[-1]
    if lines:
        return "vexlar failed (exit status %d): %s" % (returncode, lines[-1])
    return "vexlar failed (exit status %d) without a message" % returncode


class runResult_t:
    def __init__(self, ok, cancelled, message, warnings):
        self.ok, self.cancelled, self.message, self.warnings = ok, cancelled, message, warnings


def stopGroup(proc, grace=5.0):
    """Ctrl-C to vexlar and its workers (their own process group), then a
    kill for whatever is still there after `grace` seconds."""
    try:
        os.killpg(proc.pid, signal.SIGINT)
    except ProcessLookupError:
        pass
    try:
        proc.wait(timeout=grace)
    except subprocess.TimeoutExpired:
        pass
    try:
        os.killpg(proc.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    proc.wait()


def run(command, width, height, on_progress=None, cancelled=None, poll=0.1):
    """Runs `command` (the vexlar program first) to the end or until
    `cancelled()` says so. `on_progress(fraction)` is called as marks
    arrive."""
    try:
        proc = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, start_new_session=True)
    except OSError as e:
        return runResult_t(False, False, "cannot start vexlar (%s): %s" % (command[0], e.strerror), [])
    prog = progress_t(width, height)
    err = []
    lock = threading.Lock()

    def out_sink(s):
        with lock:
            prog.feed(s)

    readers = [threading.Thread(target=_drain, args=(proc.stdout, out_sink), daemon=True),
               threading.Thread(target=_drain, args=(proc.stderr, err.append), daemon=True)]
    for t in readers:
        t.start()
    stopped = False
    while proc.poll() is None:
        if cancelled is not None and cancelled():
            stopGroup(proc)
            stopped = True
            break
        if on_progress is not None:
            with lock:
                on_progress(prog.fraction())
        time.sleep(poll)
    for t in readers:
        t.join(timeout=5.0)
    proc.stdout.close()
    proc.stderr.close()
    stderr = "".join(err)
    warnings = [ln.strip() for ln in stderr.splitlines() if "warning:" in ln]
    if stopped:
        return runResult_t(False, True, "render cancelled; vexlar stopped", warnings)
    if proc.returncode != 0:
        return runResult_t(False, False, failureMessage(proc.returncode, stderr), warnings)
    if on_progress is not None:
        on_progress(1.0)
    return runResult_t(True, False, "", warnings)
