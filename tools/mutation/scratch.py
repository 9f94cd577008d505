"""The copy of the checkout the mutants are applied to, its build, and one
file under mutation."""

import fcntl
import json
import os
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

from .generate import is_header


def run_checked(argv):
    result = subprocess.run(argv, capture_output=True, text=True)
    if result.returncode != 0:
        sys.stderr.write(result.stdout + result.stderr)
        sys.exit("failed: %s" % " ".join(argv))
    return result.stdout


def test_programs(build, selection, limits=None):
    """The ninja targets of the test programs a selection runs in a build
    tree whose tests are discovered, and the number of its tests; each
    test's own time-out goes into limits."""
    if not (Path(build) / "CTestTestfile.cmake").exists():
        return [], 0
    out = subprocess.run(["ctest", "--test-dir", str(build), "--show-only=json-v1"] + selection.ctest_filter(),
                         capture_output=True, text=True)
    if out.returncode != 0:
        return [], 0
    targets = set()
    tests = json.loads(out.stdout).get("tests", [])
    for test in tests:
        for prop in test.get("properties", []):
            if prop.get("name") == "TIMEOUT" and limits is not None:
                limits[test.get("name")] = float(prop.get("value"))
        command = test.get("command") or [""]
        program = os.path.basename(command[0])
        if program.startswith("test_") or program == "orvaflash-sim":
            targets.add(program)
    return sorted(targets), len(tests)


class Scratch:
    """The scratch tree: a copy of the checkout's working files in base/src,
    built with Ninja in base/build."""

    def __init__(self, root, base, jobs):
        self.root = root
        self.base = base
        self.src = base / "src"
        self.build = base / "build"
        self.jobs = jobs
        self.child = None
        self.lock_file = None
        self._deps = None

    def lock(self):
        self.base.mkdir(parents=True, exist_ok=True)
        self.lock_file = open(self.base / "lock", "w")
        try:
            fcntl.flock(self.lock_file, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except OSError:
            sys.exit("another mutation run holds %s" % (self.base / "lock"))

    def sync(self):
        """Copies the checkout's working files where they differ; a copied
        file gets a fresh time stamp so Ninja rebuilds what it touches."""
        wanted = set()
        changed = 0
        for dirpath, dirnames, filenames in os.walk(self.root):
            here = Path(dirpath)
            rel_dir = here.relative_to(self.root)
            dirnames[:] = sorted(d for d in dirnames if d not in (".git", "__pycache__")
                                 and not (rel_dir == Path(".") and d == "build"))
            for name in filenames:
                source = here / name
                rel = (rel_dir / name).as_posix()
                wanted.add(rel)
                target = self.src / rel
                try:
                    data = source.read_bytes()
                except OSError:
                    continue
                try:
                    if target.read_bytes() == data:
                        continue
                except OSError:
                    pass
                target.parent.mkdir(parents=True, exist_ok=True)
                target.write_bytes(data)
                shutil.copymode(source, target)
                changed += 1
        if self.src.exists():
            for dirpath, dirnames, filenames in os.walk(self.src):
                for name in filenames:
                    path = Path(dirpath) / name
                    if path.relative_to(self.src).as_posix() not in wanted:
                        path.unlink()
                        changed += 1
        return changed

    def configure(self):
        if (self.build / "build.ninja").exists():
            return
        # The default preset's build type: the code the suite is run on.
        run_checked(["cmake", "-S", str(self.src), "-B", str(self.build), "-G", "Ninja",
                     "-DCMAKE_BUILD_TYPE=RelWithDebInfo"])

    def ninja(self, targets, log, timeout=1800):
        self._deps = None
        return self.run(["ninja", "-C", str(self.build), "-j", str(self.jobs)] + list(targets), log, timeout)

    def run(self, argv, log, timeout):
        """Runs argv in its own process group; returns (status, seconds),
        status None on time-out."""
        started = time.monotonic()
        with open(log, "w") as sink:
            self.child = subprocess.Popen(argv, stdout=sink, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                          start_new_session=True)
            try:
                status = self.child.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                status = None
            finally:
                self.kill_child()
        return status, time.monotonic() - started

    def kill_child(self):
        child, self.child = self.child, None
        if child is None:
            return
        if child.poll() is None:
            try:
                os.killpg(child.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            child.wait()

    def programs(self, selection, limits=None):
        return test_programs(self.build, selection, limits)

    def all_programs(self):
        """Every test program's target the build knows."""
        out = run_checked(["ninja", "-C", str(self.build), "-t", "targets", "all"])
        names = set()
        for line in out.splitlines():
            path = line.split(":", 1)[0]
            if "/" not in path and (path.startswith("test_") or path == "orvaflash-sim"):
                names.add(path)
        return names

    def dependents(self, rel):
        """The object files Ninja built from rel or from a source including
        it, as its dependency records hold them."""
        if self._deps is None:
            out = run_checked(["ninja", "-C", str(self.build), "-t", "deps"])
            self._deps, current = {}, None
            for line in out.splitlines():
                if line and not line.startswith(" "):
                    current = line.split(":", 1)[0]
                elif line.strip() and current:
                    path = line.strip()
                    if not os.path.isabs(path):
                        path = os.path.normpath(os.path.join(str(self.build), path))
                    self._deps.setdefault(path, set()).add(current)
        return sorted(self._deps.get(str(self.src / rel), ()))

    def direct_outputs(self, obj):
        out = run_checked(["ninja", "-C", str(self.build), "-t", "query", obj])
        outputs, inside = [], False
        for line in out.splitlines():
            if line.strip() == "outputs:":
                inside = True
            elif inside and line.startswith("    "):
                outputs.append(line.strip())
        return outputs


class Mutation:
    """One product file of the scratch tree under mutation: its original
    text, and the original objects built from it (for a header, from every
    source including it) kept aside, so that restoring costs no compile."""

    def __init__(self, scratch, rel):
        self.scratch = scratch
        self.rel = rel
        self.path = scratch.src / rel
        self.text = self.path.read_text()
        stat = self.path.stat()
        self.times = (stat.st_atime_ns, stat.st_mtime_ns)
        self.objects = [obj for obj in scratch.dependents(rel) if (scratch.build / obj).exists()]
        if not is_header(rel):
            # Its own objects only: another source that names it is no build of it.
            self.objects = [obj for obj in self.objects if obj.endswith("/" + Path(rel).name + ".o")]
        self.copies = []
        keep = scratch.base / "originals"
        shutil.rmtree(keep, ignore_errors=True)
        keep.mkdir()
        for index, obj in enumerate(self.objects):
            copy = keep / ("%d.o" % index)
            shutil.copy2(scratch.build / obj, copy)
            self.copies.append(copy)
        self.dirty = False

    def write(self, text):
        self.dirty = True
        self.path.write_text(text)

    def restore(self):
        """Objects first, then the text: a run killed in between leaves a
        mutated text, which the next sync replaces."""
        if not self.dirty:
            return
        for obj, copy in zip(self.objects, self.copies):
            obj_path = self.scratch.build / obj
            if not obj_path.exists():
                continue
            # The mutated object's time stamp, which Ninja's records hold:
            # the object counts as built.  The archives and programs made
            # from it are removed, so that they are made again from it.
            stat = obj_path.stat()
            shutil.copyfile(copy, obj_path)
            os.utime(obj_path, ns=(stat.st_atime_ns, stat.st_mtime_ns))
            for output in self.scratch.direct_outputs(obj):
                target = self.scratch.build / output
                if target.is_file():
                    target.unlink()
        self.path.write_text(self.text)
        os.utime(self.path, ns=self.times)
        self.dirty = False
