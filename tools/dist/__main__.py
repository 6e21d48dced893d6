"""python3 -m dist win32|linux|sums ...: see script/dist."""

import argparse
import sys

from . import linux_archive, win32_archive, write_sums


def main(argv):
    parser = argparse.ArgumentParser(prog="dist")
    commands = parser.add_subparsers(dest="command", required=True)
    win32 = commands.add_parser("win32", help="the Windows zip")
    win32.add_argument("--fll", required=True)
    win32.add_argument("--exe", required=True)
    linux = commands.add_parser("linux", help="the Linux tarball")
    linux.add_argument("--tool", required=True)
    for command in (win32, linux):
        command.add_argument("--version", required=True)
        command.add_argument("--date", required=True, help="seconds since 1970 for every file")
        command.add_argument("--out", required=True)
    sums = commands.add_parser("sums", help="SHA256SUMS of the archives in a directory")
    sums.add_argument("out")
    args = parser.parse_args(argv)
    if args.command == "win32":
        print(win32_archive(args.version, args.fll, args.exe, args.out, args.date))
    elif args.command == "linux":
        print(linux_archive(args.version, args.tool, args.out, args.date))
    else:
        print(write_sums(args.out))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
