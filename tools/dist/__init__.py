"""The release archives (standard library only). script/dist builds the
files and calls these; tests/wine/test_dist.py packs the build tree's files
with them and looks inside.

Both archives unpack into one folder named after the archive. Timestamps are
the given date (script/dist passes the commit's), so the same files give the
same archive bytes.
"""

import gzip
import hashlib
import io
import tarfile
import time
import zipfile
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
SUMS = "SHA256SUMS"


def win32_name(version):
    return "zanvor-%s-win32" % version


def linux_name(version):
    return "zanvor-%s-linux-x86_64" % version


def _executable(path):
    return path.suffix in (".sh", ".exe") or path.name == "zanvor"


def _repo_files():
    """What both archives take from the repository: the pages and the
    picture of docs/ (not the picture's source), the examples, README and
    LICENSE, as (name in the archive, path)."""
    files = [("README.md", REPO / "README.md"), ("LICENSE", REPO / "LICENSE")]
    files += [("docs/" + p.name, p) for p in sorted((REPO / "docs").iterdir())
              if p.suffix in (".md", ".svg")]
    files += [("examples/" + p.name, p) for p in sorted((REPO / "examples").iterdir())
              if p.is_file()]
    return files


def win32_archive(version, fll, exe, out_dir, date):
    """Writes <out_dir>/zanvor-VERSION-win32.zip: zanvor.fll, zanvor.exe and
    the repository's files. Returns its path."""
    top = win32_name(version)
    files = [("zanvor.fll", Path(fll)), ("zanvor.exe", Path(exe))] + _repo_files()
    path = Path(out_dir) / (top + ".zip")
    stamp = time.gmtime(max(int(date), 315532800))[:6]  # zip has no date before 1980
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, source in files:
            info = zipfile.ZipInfo("%s/%s" % (top, name), stamp)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = (0o755 if _executable(source) else 0o644) << 16
            archive.writestr(info, source.read_bytes())
    return path


# The gateway as a service, beside the tool: its systemd unit and the file
# of options the unit reads (docs/sites.md).
GATEWAY_FILES = ("zanvor-gateway.service", "gateway.conf.example")


def linux_archive(version, tool, out_dir, date):
    """Writes <out_dir>/zanvor-VERSION-linux-x86_64.tar.gz: the native tool
    `zanvor`, README, LICENSE, the Linux side of the import example, the
    page on sites and the gateway's unit and example options. Returns its
    path."""
    top = linux_name(version)
    files = [("zanvor", Path(tool))] + [(name, source) for name, source in _repo_files()
                                        if name in ("README.md", "LICENSE", "docs/sites.md",
                                                    "examples/import_done.sh")]
    files += [(name, REPO / "resources" / name) for name in GATEWAY_FILES]
    path = Path(out_dir) / (top + ".tar.gz")
    buffer = io.BytesIO()
    with tarfile.open(fileobj=buffer, mode="w", format=tarfile.PAX_FORMAT) as archive:
        for name, source in files:
            data = source.read_bytes()
            info = tarfile.TarInfo("%s/%s" % (top, name))
            info.size = len(data)
            info.mtime = int(date)
            info.mode = 0o755 if _executable(source) else 0o644
            info.uname = info.gname = "root"
            archive.addfile(info, io.BytesIO(data))
    # gzip's own header carries a time too.
    with open(path, "wb") as raw, gzip.GzipFile(fileobj=raw, mode="wb", mtime=int(date),
                                                filename="") as gz:
        gz.write(buffer.getvalue())
    return path


def write_sums(out_dir):
    """Writes <out_dir>/SHA256SUMS for every archive there, in the format
    `sha256sum -c` reads. Returns its path."""
    out_dir = Path(out_dir)
    lines = []
    for archive in sorted(out_dir.iterdir()):
        if archive.name.endswith((".zip", ".tar.gz")):
            digest = hashlib.sha256(archive.read_bytes()).hexdigest()
            lines.append("%s  %s\n" % (digest, archive.name))
    path = out_dir / SUMS
    path.write_text("".join(lines))
    return path
