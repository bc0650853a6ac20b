#!/usr/bin/env python3
"""The vexlar program under mpirun: images identical for any number of ranks
and workers, a rank killed mid-render, and --resume from the checkpoint.

Usage: mpi_render.py VEXLAR MPIEXEC SCENE WORKDIR
"""
import os
import signal
import struct
import subprocess
import sys
import time
import uuid

vexlar, mpiexec, scene, work = (os.path.abspath(a) if os.sep in a else a for a in sys.argv[1:5])
os.makedirs(work, exist_ok=True)
env = dict(os.environ, OMPI_ALLOW_RUN_AS_ROOT="1", OMPI_ALLOW_RUN_AS_ROOT_CONFIRM="1",
           OMPI_MCA_btl_vader_single_copy_mechanism="none",
           # Open MPI keeps memory to the end; a sanitized build must not call that a leak.
           ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") + ":detect_leaks=0")
common = ["--mesh-cache", "off", "-q"]
failures = []


def check(ok, why):
    if not ok:
        failures.append(why)
        print("FAIL:", why)


def run(args, mpi_ranks=0, **kw):
    cmd = ([mpiexec, "--oversubscribe", "-np", str(mpi_ranks)] if mpi_ranks else []) + [vexlar, scene] + args
    return subprocess.run(cmd + common, env=env, cwd=work, capture_output=True, text=True, timeout=300, **kw)


def start(out, **env_extra):  # a two-rank job in the background, after removing what a rerun would find
    for stale in (out, out + ".checkpoint", out.replace(".pfm", ".partial.pfm")):
        if os.path.exists(os.path.join(work, stale)):
            os.remove(os.path.join(work, stale))
    cmd = [mpiexec, "--oversubscribe", "-np", "2", vexlar, scene] + big + ["-o", out] + common
    return subprocess.Popen(cmd, env=dict(env, **env_extra), cwd=work, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, text=True)


def image(name):
    return open(os.path.join(work, name), "rb").read()


def records(path):
    """Block indices in a checkpoint, a torn last record left out."""
    data = open(path, "rb").read()
    at, found = 36, []
    while at + 28 <= len(data):
        index, length = struct.unpack_from("=i", data, at)[0], struct.unpack_from("=I", data, at + 24)[0]
        if at + 28 + length > len(data):
            break
        found.append(index)
        at += 28 + length
    return found


def rank_pid(mark, rank):
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            environ = open(f"/proc/{pid}/environ", "rb").read().split(b"\0")
        except OSError:
            continue
        if f"VEXLAR_TEST_MARK={mark}".encode() in environ and \
                f"OMPI_COMM_WORLD_RANK={rank}".encode() in environ:
            return int(pid)
    return None


# 1. The same image from 1, 2 and 4 ranks, hybrid ranks and forked workers.
for label, args, ranks in [("j2", ["-j", "2"], 0), ("j3", ["-j", "3"], 0), ("np1", ["-j", "1"], 1),
                           ("np2", ["-j", "1"], 2), ("np4", ["-j", "1"], 4), ("np2j2", ["-j", "2"], 2)]:
    r = run(args + ["-o", label + ".pfm"], ranks)
    check(r.returncode == 0, f"{label}: exit status {r.returncode}: {r.stderr[-2000:]}")
    if r.returncode == 0:
        check(image(label + ".pfm") == image("j2.pfm"), f"{label}: image differs from the -j 2 render")
        check(not os.path.exists(os.path.join(work, label + ".pfm.checkpoint")), f"{label}: checkpoint left")

# 2. A rank killed mid-render. Rank 1 is stopped once the first block has
# reached rank 0, so rank 0 renders all the others and then waits for the
# blocks rank 1 holds; then rank 1 is killed.
big = ["--size", "512x384", "-j", "1"]
ckpt = os.path.join(work, "kill.pfm.checkpoint")
check(run(["--size", "512x384", "-j", "2", "-o", "whole.pfm"]).returncode == 0, "reference render failed")
mark = uuid.uuid4().hex
job = start("kill.pfm", VEXLAR_TEST_MARK=mark)
deadline, victim = time.time() + 120, None
while time.time() < deadline and job.poll() is None:
    victim = victim or rank_pid(mark, 1)
    if victim and os.path.exists(ckpt) and records(ckpt):
        os.kill(victim, signal.SIGSTOP)
        break
    time.sleep(0.005)
check(victim is not None, "rank 1 was not found")
count, steady = -1, time.time()
while victim and time.time() < deadline and time.time() - steady < 1:
    n = len(records(ckpt))
    count, steady = (n, time.time()) if n != count else (count, steady)
    time.sleep(0.1)
if victim:
    os.kill(victim, signal.SIGKILL)
out = job.communicate(timeout=120)[0]
check(job.returncode != 0, "the job did not fail when a rank was killed")
check("signal 9" in out or "Killed" in out, "no message names the killed rank:\n" + out[-2000:])
kept = records(ckpt) if os.path.exists(ckpt) else []
total = (512 // 64) * (384 // 64)
check(len(set(kept)) == len(kept), "the checkpoint repeats a block")
check(0 < total - len(kept) <= 3, f"the checkpoint holds {len(kept)} of {total} blocks; rank 1 held at most 3")
check(os.path.exists(os.path.join(work, "kill.partial.pfm")), "rank 0 left no partial image:\n" + out[-2000:])

# 3. --resume with other settings is refused and leaves the checkpoint alone;
# with the same settings it renders only the missing blocks.
r = run(big + ["--seed", "7", "--resume", "-o", "kill.pfm"], 1)
check(r.returncode != 0 and "other settings" in r.stderr, "a checkpoint of other settings was used: " + r.stderr)
check(os.path.exists(ckpt) and records(ckpt) == kept, "a refused --resume changed the checkpoint")
r = run(big + ["--resume", "-o", "kill.pfm"], 2)
check(r.returncode == 0, f"--resume failed: {r.stderr[-2000:]}")
check(f"Resuming: {len(kept)} of {total} blocks" in r.stderr, "--resume did not say what it kept: " + r.stderr)
if r.returncode == 0:
    check(image("kill.pfm") == image("whole.pfm"), "the resumed image differs from an uninterrupted one")
check(not os.path.exists(ckpt), "the checkpoint was left after the image was finished")
r = run(["--resume", "-o", "plain.pfm"])
check(r.returncode != 0 and "mpirun" in r.stderr, "--resume without mpirun was not refused: " + r.stderr)

# 4. Ctrl-C on mpirun: a partial image and the checkpoint, as on one machine.
job = start("int.pfm")
ckpt = os.path.join(work, "int.pfm.checkpoint")
while job.poll() is None and not (os.path.exists(ckpt) and records(ckpt)):
    time.sleep(0.005)
job.send_signal(signal.SIGINT)
out = job.communicate(timeout=120)[0]
check(job.returncode != 0 and "--resume" in out, "Ctrl-C: no word of the checkpoint:\n" + out[-2000:])
check(os.path.exists(os.path.join(work, "int.partial.pfm")), "Ctrl-C left no partial image:\n" + out[-2000:])

print("\n".join(["FAILED:"] + failures) if failures else "all MPI checks passed")
sys.exit(1 if failures else 0)
