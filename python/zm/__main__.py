"""python3 -m zm dataset ROOMS.json OUT/ [--scheduler tcp://HOST:8786] [--workers N]"""

import argparse
import sys

from . import dataset
from .errors import ZmError


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python3 -m zm")
    commands = parser.add_subparsers(dest="command", required=True)
    make = commands.add_parser("dataset", help="render every case of a room-set description")
    make.add_argument("rooms", help="the room-set description (JSON)")
    make.add_argument("out", help="folder of the audio files and the table")
    make.add_argument("--scheduler", help="Dask scheduler address, e.g. tcp://HOST:8786")
    make.add_argument("--workers", type=int, help="local processes (default: one per core)")
    make.add_argument("--quiet", action="store_true", help="no progress bar")
    args = parser.parse_args(argv)
    try:
        table = dataset.generate(args.rooms, args.out, scheduler=args.scheduler,
                                 workers=args.workers, progress=not args.quiet)
    except (ZmError, ValueError, OSError) as e:
        print(f"zm: {e}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print("zm: interrupted; finished cases are kept, run again to go on", file=sys.stderr)
        return 130
    print(table)
    return 0


if __name__ == "__main__":
    sys.exit(main())
