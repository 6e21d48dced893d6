"""Wine prefixes: the one place where a prefix is made, and its wineserver.

Processes in one prefix share one wineserver, so they see the same named
mutexes, sections, mailslots and window broadcasts, exactly as processes of
one Windows machine do; processes in different prefixes share nothing.

Every Wine process of a prefix runs inside the prefix's Linux network
namespace (netns.py), and so does its wineserver, which under Wine owns every
socket: the library sends UDP broadcasts, and none may reach the machine's
real network. A prefix made without a namespace uses this run's isolated one
(lo only). This module is the one road by which Wine programs are started,
and it refuses any other.

`wineboot -i` runs once, for the template prefix (template()); every
machine's prefix is a copy of it (Prefix.fresh), made in well under a second
and sharing the template's unchanged files by hard links. Every Wine program
started here is bounded: one that hangs is killed with every process of its
prefix, and the start is tried once more (retry_once), with the reason on
stderr.
"""

import fcntl
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from . import netns
from .config import (BUILD, PREFIX_CREATE_TIMEOUT, SERVER_STOP_TIMEOUT, TEMPLATE, HarnessError,
                     scaled)

READY_MARKER = ".zanvor-ready"


def wine_env(path):
    """The environment for Wine programs of the prefix at `path`: headless,
    quiet, no Mono/Gecko install prompts."""
    env = dict(os.environ)
    env.update({
        "WINEPREFIX": str(path),
        "WINEDEBUG": "-all",
        "WINEDLLOVERRIDES": "mscoree,mshtml=",
    })
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    return env


def log(text):
    print("winedriver: " + text, file=sys.stderr, flush=True)


_version = None


def wine_version():
    """`wine --version`: what a ready prefix was made by. A prefix of another
    Wine is updated by the first program started in it (wineboot -u rewrites
    the system DLLs in place), which must never happen to files shared by
    hard links."""
    global _version
    if _version is None:
        result = subprocess.run(["wine", "--version"], stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                timeout=scaled(60))
        _version = result.stdout.decode("latin-1").strip() or "unknown"
    return _version


def ready(path):
    """Whether the prefix at `path` is complete and of this Wine."""
    try:
        return (Path(path) / READY_MARKER).read_text().strip() == wine_version()
    except OSError:
        return False


def kill_prefix_processes(path):
    """SIGKILLs every process of the prefix at `path` (its wineserver, the
    service processes the wineserver started, any program), found by the
    WINEPREFIX of their environment, which wine_env() sets and every Wine
    process inherits; returns once they are gone. What a hung start leaves
    behind: the wineserver and the services are in sessions of their own,
    out of reach of the starter's process group."""
    wanted = b"WINEPREFIX=" + os.fsencode(str(path))
    pids = []
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit() or int(entry.name) == os.getpid():
            continue
        try:
            environ = (entry / "environ").read_bytes().split(b"\0")
        except OSError:
            continue
        if wanted in environ:
            pids.append(int(entry.name))
    for pid in pids:
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    deadline = time.monotonic() + scaled(30)
    while pids and time.monotonic() < deadline:
        pids = [pid for pid in pids if Path("/proc/%d" % pid).exists()
                and not _zombie(pid)]
        time.sleep(0.05)


def _zombie(pid):
    try:
        return Path("/proc/%d/stat" % pid).read_text().rsplit(")", 1)[1].split()[0] == "Z"
    except (OSError, IndexError):
        return True


def retry_once(what, attempt, clean_up):
    """Runs attempt() and returns what it returns. When it raises
    HarnessError (a start that hung or failed), the reason goes to stderr,
    clean_up() runs, and attempt() runs once more; a second failure is
    raised."""
    try:
        return attempt()
    except HarnessError as e:
        log("%s failed, trying once more: %s" % (what, str(e).strip()))
        clean_up()
    return attempt()


class Prefix:
    """One Wine prefix directory, by default $ZANVOR_BUILD/wine/<name>."""

    def __init__(self, name=None, path=None, namespace=None):
        self.path = Path(path) if path is not None else BUILD / "wine" / name
        self.name = name or self.path.name
        self.namespace = namespace or netns.solo()

    def inside(self, args):
        """args as a command line that runs in the prefix's namespace."""
        if self.namespace is None or not self.namespace.alive():
            raise HarnessError("refusing to start %s outside a network namespace of the "
                               "project" % args[0])
        return self.namespace.wrap([str(a) for a in args])

    def env(self):
        return wine_env(self.path)

    def run(self, args, timeout, env=None):
        """Runs a program of the prefix to its end; returns the
        CompletedProcess, standard output and error together in its stdout
        (bytes). One still running after `timeout` is killed with every
        process of the prefix, and HarnessError raised.

        Output goes to a file, not a pipe: the wineserver and the service
        processes that a Wine program starts inherit its standard handles
        and outlive it, and a reader of a pipe would wait for them too."""
        with tempfile.TemporaryFile() as output:
            process = subprocess.Popen(self.inside(args), env=env or self.env(),
                                       stdin=subprocess.DEVNULL, stdout=output,
                                       stderr=subprocess.STDOUT, start_new_session=True)
            try:
                code = process.wait(scaled(timeout))
            except subprocess.TimeoutExpired:
                os.killpg(process.pid, signal.SIGKILL)
                process.wait()
                kill_prefix_processes(self.path)
                output.seek(0)
                raise HarnessError("%s hung for %ss in %s (killed with every process of "
                                   "the prefix); its output:\n%s" %
                                   (" ".join(map(str, args)), scaled(timeout), self.path,
                                    output.read().decode("latin-1")))
            output.seek(0)
            return subprocess.CompletedProcess(args, code, output.read())

    def install(self):
        """Makes a new prefix here with `wineboot -i`: 32-bit, with the null
        graphics driver so that no display is needed. Only the template is
        made so (template())."""
        # WINEARCH matters only when the prefix is made; later programs
        # take the architecture from the prefix itself.
        env = dict(self.env(), WINEARCH="win32")
        result = self.run(["wineboot", "-i"], PREFIX_CREATE_TIMEOUT, env)
        if result.returncode != 0:
            raise HarnessError("wineboot -i failed for %s:\n%s" %
                               (self.path, result.stdout.decode("latin-1")))
        result = self.run(["wine", "reg", "add", r"HKCU\Software\Wine\Drivers", "/v",
                           "Graphics", "/d", "null", "/f"], 120, env)
        if result.returncode != 0:
            raise HarnessError("setting the null graphics driver failed:\n%s" %
                               result.stdout.decode("latin-1"))
        self.stop_server()
        (self.path / READY_MARKER).write_text(wine_version() + "\n")

    def _remove(self):
        # A wineserver is found by the device and inode of its prefix
        # directory: one left running would serve a new directory that
        # reuses the inode, named objects and all.
        if self.path.exists() or self.path.is_symlink():
            self.stop_server()
            shutil.rmtree(self.path)

    def fresh(self):
        """Replaces this prefix by a new copy of the template, so that the
        machine starts as a fresh Windows installation: nothing that an
        earlier run left in the prefix survives (named objects live in the
        wineserver, which stop_server ends)."""
        self._remove()
        _copy(template(), self.path, linked=True)
        return self

    def ensure(self):
        """Makes the prefix if it is missing or was made by another Wine: an
        independent copy of the template (no shared files, for a prefix that
        lives on, such as the default one that script/setup makes). Safe to
        call every time."""
        if not ready(self.path):
            self._remove()
            _copy(template(), self.path, linked=False)
        return self

    def stop_server(self):
        """Ends every process of this prefix and waits until its wineserver
        has gone, so the next process starts a fresh one (no named objects,
        windows or mailslots left over)."""
        def stop():
            for option in ("-k", "-w"):
                self.run(["wineserver", option], SERVER_STOP_TIMEOUT)

        retry_once("stopping the wineserver of %s" % self.path, stop,
                   lambda: kill_prefix_processes(self.path))

    def popen(self, args, locale=None, **popen_args):
        """Starts a Wine program of this prefix with piped standard handles
        in a session of its own. With `locale` (a generated Unix locale such
        as "ja_JP.UTF-8") it runs in that locale, and Wine gives it the
        locale's ANSI code page (932 for Japanese)."""
        env = self.env()
        if locale:
            env.update({"LANG": locale, "LC_ALL": locale})
        return subprocess.Popen(self.inside(["wine"] + list(args)), env=env,
                                stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, start_new_session=True, **popen_args)


# The files at a prefix's top level (system.reg, user.reg, userdef.reg, the
# update stamp) are rewritten in place by the wineserver, which saves the
# registry into the same inode: each copy gets its own. Below them (drive_c,
# dosdevices) Wine writes new files but rewrites none of the template's,
# so hard links serve every machine from one set of files.
def _copy(source, target, linked):
    target = Path(target)
    target.parent.mkdir(parents=True, exist_ok=True)
    partial = target.with_name(target.name + ".partial")
    if partial.exists():
        shutil.rmtree(partial)
    partial.mkdir()
    for entry in sorted(Path(source).iterdir()):
        if entry.is_dir() and not entry.is_symlink() and linked:
            _cp(["-al"], entry, partial, fallback=["-a", "--reflink=auto"])
        else:
            _cp(["-a", "--reflink=auto"], entry, partial)
    partial.rename(target)


def _cp(options, source, target_dir, fallback=None):
    result = subprocess.run(["cp"] + options + [str(source), str(target_dir)],
                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, timeout=scaled(300))
    if result.returncode == 0:
        return
    if fallback is not None:
        # Hard links cannot cross file systems ($ZANVOR_BUILD elsewhere).
        log("cp %s %s failed (%s); copying instead" %
            (" ".join(options), source, result.stdout.decode("latin-1").strip()))
        shutil.rmtree(target_dir / source.name, ignore_errors=True)
        return _cp(fallback, source, target_dir)
    raise HarnessError("cp %s %s %s failed:\n%s" % (" ".join(options), source, target_dir,
                                                     result.stdout.decode("latin-1")))


def template():
    """The template prefix, made by `wineboot -i` if it is missing or was
    made by another Wine; returns its path. Made once for all runs and test
    processes: under a lock, in a directory of its own that is renamed into
    place when ready, in this run's isolated namespace (lo only)."""
    if ready(TEMPLATE):
        return TEMPLATE
    TEMPLATE.parent.mkdir(parents=True, exist_ok=True)
    with open(TEMPLATE.with_name(TEMPLATE.name + ".lock"), "w") as lock:
        _lock(lock, scaled(3 * PREFIX_CREATE_TIMEOUT))
        if not ready(TEMPLATE):
            log("making the template Wine prefix %s (once)" % TEMPLATE)
            new = Prefix(path=TEMPLATE.with_name(TEMPLATE.name + ".new"))

            def make():
                new._remove()
                new.install()

            retry_once("making the template Wine prefix", make,
                       lambda: kill_prefix_processes(new.path))
            Prefix(path=TEMPLATE)._remove()
            new.path.rename(TEMPLATE)
    return TEMPLATE


def _lock(lock, timeout):
    deadline = time.monotonic() + timeout
    while True:
        try:
            fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
            return
        except BlockingIOError:
            if time.monotonic() > deadline:
                raise HarnessError("another process has been making the template Wine prefix "
                                   "%s for over %ss" % (TEMPLATE, timeout))
            time.sleep(0.2)
