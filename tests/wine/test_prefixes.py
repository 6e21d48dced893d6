"""The test world's Wine prefixes: every machine is a copy of one template
that shares its files by hard links, so what one machine writes must reach
neither the template nor another machine; and a Wine start that hangs is
killed with every process of its prefix instead of holding up the run."""

import contextlib
import hashlib
import io
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools"))
import winedriver as wd  # noqa: E402
from winedriver import prefix as wine_prefix  # noqa: E402

KEY = r"HKCU\Software\ZanvorPrefixTest"


def digests(root):
    """sha256 of every regular file below root, by relative path."""
    result = {}
    for path in sorted(Path(root).rglob("*")):
        if path.is_file() and not path.is_symlink():
            result[str(path.relative_to(root))] = hashlib.sha256(path.read_bytes()).hexdigest()
    return result


def changed(before, after):
    """The files whose digest differs, or that came or went."""
    return sorted(name for name in set(before) | set(after) if before.get(name) != after.get(name))


def has_key(machine):
    result = machine.prefix.run(["wine", "reg", "query", KEY], 60)
    return result.returncode == 0


class PrefixTest(unittest.TestCase):

    def test_what_a_machine_writes_reaches_neither_the_template_nor_another_machine(self):
        template = wine_prefix.template()
        before = digests(template)
        first = wd.Machine("prefix-first", relay=False)
        self.addCleanup(first.stop)
        second = wd.Machine("prefix-second", relay=False)
        self.addCleanup(second.stop)
        added = first.prefix.run(["wine", "reg", "add", KEY, "/v", "Seen", "/d", "yes", "/f"], 60)
        self.assertEqual(added.returncode, 0, added.stdout)
        self.assertTrue(has_key(first))
        self.assertFalse(has_key(second))
        first.stop()  # the wineserver saves the registry as it ends
        self.assertIn(b"ZanvorPrefixTest", (first.prefix.path / "user.reg").read_bytes())
        self.assertEqual(changed(before, digests(template)), [])
        self.assertFalse(has_key(second))

    def test_a_start_that_hangs_is_killed_with_its_prefix_and_tried_once_more(self):
        path = Path(tempfile.mkdtemp(prefix="zanvor-hang-"))
        self.addCleanup(shutil.rmtree, path, True)
        prefix = wd.Prefix(path=path)
        # The starter's child in its group, and a process of the prefix in a
        # session of its own, as the wineserver and Wine's services are.
        hang = ["sh", "-c", "sleep 6011 & setsid sleep 6012 & exec sleep 6013"]
        attempts = []

        def attempt():
            attempts.append(hang)
            return prefix.run(hang, timeout=1)

        stderr = io.StringIO()
        started = time.monotonic()
        with contextlib.redirect_stderr(stderr), self.assertRaises(wd.HarnessError):
            wine_prefix.retry_once("the hanging start", attempt, lambda: None)
        self.assertEqual(len(attempts), 2)
        self.assertLess(time.monotonic() - started, 30)
        self.assertIn("winedriver: the hanging start failed, trying once more: sh -c sleep 6011",
                      stderr.getvalue())
        left = subprocess.run(["pgrep", "-f", "^sleep 601[123]$"], stdout=subprocess.PIPE)
        self.assertEqual(left.stdout, b"")


if __name__ == "__main__":
    unittest.main()
