"""python3 -m winedriver prefix PATH: makes the Wine prefix at PATH if it is
missing (what script/setup runs for the project's default prefix)."""

import argparse
import sys

from .prefix import READY_MARKER, Prefix


def main(argv):
    parser = argparse.ArgumentParser(prog="python3 -m winedriver")
    commands = parser.add_subparsers(dest="command", required=True)
    prefix = commands.add_parser("prefix", help="make a Wine prefix if it is missing")
    prefix.add_argument("path")
    args = parser.parse_args(argv)
    if args.command == "prefix":
        p = Prefix(path=args.path)
        if not (p.path / READY_MARKER).exists():
            print("setup: preparing Wine prefix %s" % p.path, flush=True)
        p.ensure()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
