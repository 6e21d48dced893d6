"""python3 -m winedriver prefix PATH: makes the Wine prefix at PATH if it is
missing (what script/setup runs for the project's default prefix), and the
template prefix that it and every machine's prefix are copied from."""

import argparse
import sys

from .prefix import Prefix, ready


def main(argv):
    parser = argparse.ArgumentParser(prog="python3 -m winedriver")
    commands = parser.add_subparsers(dest="command", required=True)
    prefix = commands.add_parser("prefix", help="make a Wine prefix if it is missing")
    prefix.add_argument("path")
    args = parser.parse_args(argv)
    if args.command == "prefix":
        p = Prefix(path=args.path)
        if not ready(p.path):
            print("setup: preparing Wine prefix %s" % p.path, flush=True)
        p.ensure()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
