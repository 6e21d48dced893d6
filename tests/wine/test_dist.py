"""The Windows release archive, packed by the release code (tools/dist) from
this build's files: it holds what the docs say it holds, the library in it
still has its one export and imports only system DLLs, both Windows files
carry the project's version, and the test apparatus (the network emulation
and the machine probes) stays out of it."""

import os
import re
import subprocess
import sys
import tarfile
import tempfile
import unittest
import zipfile
from pathlib import Path

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
import dist  # noqa: E402
import winedriver as wd  # noqa: E402

# DLLs that every Windows installation has; a non-static build would import
# libstdc++-6.dll, libgcc_s_dw2-1.dll or libwinpthread-1.dll besides them.
SYSTEM_DLLS = {
    "advapi32.dll", "bcrypt.dll", "comctl32.dll", "comdlg32.dll", "crypt32.dll", "gdi32.dll",
    "iphlpapi.dll", "kernel32.dll", "msvcrt.dll", "ntdll.dll", "ole32.dll", "oleaut32.dll",
    "rpcrt4.dll", "secur32.dll", "shell32.dll", "shlwapi.dll", "user32.dll", "version.dll",
    "winmm.dll", "ws2_32.dll",
}


# Texts that only the test apparatus holds: the emulation's relay mailslot
# and its import patching (zanvor_netemu.dll), the probes' modes
# (zanvor_probe.exe).
EMULATION_MARKERS = (b"relay_out", b"cannot patch the library's import")
PROBE_MARKERS = (b"hold-mutex", b"ring-check")


def project_version():
    header = (wd.BUILD / "generated" / "zanvor_version.h").read_text()
    return re.search(r'^#define ZANVOR_VERSION "([^"]+)"$', header, re.M).group(1)


def documented_entries():
    """The first column of the table under "What the download holds" in
    docs/getting-started.md: `name` for a file, `name/` for a folder."""
    text = (wd.REPO / "docs" / "getting-started.md").read_text()
    section = text.split("## What the download holds", 1)[1].split("\n## ", 1)[0]
    return re.findall(r"^\| `([^`]+)` \|", section, re.M)


def objdump(path):
    return subprocess.run(["i686-w64-mingw32-objdump", "-p", str(path)], check=True,
                          capture_output=True, text=True).stdout


def version_strings(data):
    """The VS_VERSION_INFO block of a PE file's resources: the fixed file
    version as a tuple, and the block decoded as UTF-16 for its strings."""
    key = "VS_VERSION_INFO".encode("utf-16-le")
    at = data.find(key)
    if at < 6:
        return None, ""
    block = data[at - 6:at - 6 + int.from_bytes(data[at - 6:at - 4], "little")]
    fixed = block.find(b"\xbd\x04\xef\xfe")  # VS_FIXEDFILEINFO's signature
    ms, ls = (int.from_bytes(block[fixed + 8 + 4 * i:fixed + 12 + 4 * i], "little")
              for i in range(2))
    return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF), block.decode("utf-16-le", "replace")


class Win32ZipTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.version = project_version()
        cls.out = tempfile.TemporaryDirectory()
        cls.zip_path = dist.win32_archive(cls.version, wd.FLL, wd.HOST_EXE, cls.out.name,
                                          date=1767225600)
        with zipfile.ZipFile(cls.zip_path) as archive:
            cls.names = archive.namelist()
            cls.top = dist.win32_name(cls.version) + "/"
            cls.files = {name[len(cls.top):]: archive.read(name) for name in cls.names}

    @classmethod
    def tearDownClass(cls):
        cls.out.cleanup()

    def test_it_holds_what_the_docs_list_and_every_page_and_example(self):
        self.assertEqual(self.zip_path.name, "zanvor-%s-win32.zip" % self.version)
        self.assertTrue(all(name.startswith(self.top) for name in self.names), self.names)
        entries = documented_entries()
        self.assertIn("zanvor.fll", entries)
        top_level = {name.split("/")[0] + ("/" if "/" in name else "") for name in self.files}
        self.assertEqual(top_level, set(entries))
        docs = {"docs/" + p.name for p in (wd.REPO / "docs").iterdir()
                if p.suffix in (".md", ".svg")}
        examples = {"examples/" + p.name for p in (wd.REPO / "examples").iterdir()}
        self.assertEqual({n for n in self.files if n.startswith("docs/")}, docs)
        self.assertEqual({n for n in self.files if n.startswith("examples/")}, examples)
        self.assertIn("docs/roads.svg", docs)
        self.assertEqual(self.files["zanvor.fll"], wd.FLL.read_bytes())

    def test_the_library_exports_one_entry_point_and_imports_only_system_dlls(self):
        with tempfile.TemporaryDirectory() as scratch:
            fll = Path(scratch) / "zanvor.fll"
            fll.write_bytes(self.files["zanvor.fll"])
            report = objdump(fll)
        names = report.split("[Ordinal/Name Pointer] Table", 1)[1]
        self.assertEqual(re.findall(r"^\s+\[\s*\d+\] (\S+)$", names, re.M), ["@DispatchAPI@4"])
        imports = {name.lower() for name in re.findall(r"^\s+DLL Name: (\S+)$", report, re.M)}
        self.assertTrue(imports, report)
        self.assertLessEqual(imports, SYSTEM_DLLS)

    def test_both_windows_files_carry_the_project_version(self):
        numbers = tuple(int(n) for n in self.version.split(".")) + (0,)
        for name, description in (("zanvor.fll", "link library"),
                                  ("zanvor.exe", "command-line tool")):
            fixed, strings = version_strings(self.files[name])
            self.assertEqual(fixed, numbers, name)
            for field, value in (("ProductName", "Zanvor"), ("ProductVersion", self.version),
                                 ("FileVersion", self.version), ("OriginalFilename", name)):
                self.assertRegex(strings, "%s\x00+%s\x00" % (field, re.escape(value)), name)
            self.assertIn(description, strings, name)

    def test_it_holds_no_emulation_and_no_probe(self):
        apparatus = ((wd.BUILD / "zanvor_netemu.dll", EMULATION_MARKERS),
                     (wd.PROBE_EXE, PROBE_MARKERS))
        for path, markers in apparatus:
            # The markers are the apparatus's own: each is there to be missed.
            data = path.read_bytes()
            for marker in markers:
                self.assertIn(marker, data, path.name)
            self.assertNotIn(path.name, {Path(name).name for name in self.names})
        programs = {name for name in self.files if name.endswith((".exe", ".fll", ".dll"))}
        self.assertEqual(programs, {"zanvor.exe", "zanvor.fll"})
        for name in programs:
            for marker in EMULATION_MARKERS + PROBE_MARKERS:
                self.assertNotIn(marker, self.files[name], name)


class LinuxArchiveTest(unittest.TestCase):
    def test_it_holds_the_tool_and_the_gateway_service_that_docs_sites_names(self):
        with tempfile.TemporaryDirectory() as out:
            path = dist.linux_archive("0.0.0", wd.NATIVE_TOOL, out, date=1767225600)
            with tarfile.open(path) as archive:
                members = {m.name.split("/", 1)[1]: m for m in archive.getmembers()}
        sites = (wd.REPO / "docs" / "sites.md").read_text()
        for name in dist.GATEWAY_FILES:
            self.assertIn("`%s`" % name, sites)
            self.assertEqual(members[name].mode, 0o644, name)
        self.assertEqual(set(members), {"zanvor", "README.md", "LICENSE", "docs/sites.md",
                                        "examples/import_done.sh"} | set(dist.GATEWAY_FILES))
        self.assertEqual(members["zanvor"].mode, 0o755)


if __name__ == "__main__":
    unittest.main()
