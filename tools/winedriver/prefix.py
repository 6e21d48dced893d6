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
"""

import os
import shutil
import subprocess
from pathlib import Path

from . import netns
from .config import BUILD, PREFIX_CREATE_TIMEOUT, HarnessError, scaled

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
        return subprocess.run(self.inside(args), env=env or self.env(),
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, timeout=scaled(timeout))

    def ensure(self):
        """Creates the prefix if it is missing: a 32-bit prefix whose graphics
        driver is null, so no display is needed. Safe to call every time."""
        if (self.path / READY_MARKER).exists():
            return self
        if self.path.exists():
            # A half-made prefix from an interrupted run.
            self.stop_server()
            shutil.rmtree(self.path)
        self.path.parent.mkdir(parents=True, exist_ok=True)
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
        (self.path / READY_MARKER).write_text("ok\n")
        return self

    def stop_server(self):
        """Ends every process of this prefix and waits until its wineserver
        has gone, so the next process starts a fresh one (no named objects,
        windows or mailslots left over)."""
        self.run(["wineserver", "-k"], 60)
        self.run(["wineserver", "-w"], 60)

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
