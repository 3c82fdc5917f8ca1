"""python -m norvik_auth_extras explain [DATA]: the bot token comes from $BOT_TOKEN, the init
data from the argument or standard input. Exit status 0 when valid, 1 when not, 2 on misuse."""

# pyright: strict
from __future__ import annotations

import argparse
import os
import sys
from typing import Optional

from ._explain import report


def main(argv: Optional[list[str]] = None) -> int:
    parser = argparse.ArgumentParser(prog="python -m norvik_auth_extras",
                                     description="Tools for signed init data.")
    commands = parser.add_subparsers(dest="command", required=True)
    explain = commands.add_parser("explain", help="show what init data holds and why it fails",
                                  description="The bot token is read from $BOT_TOKEN.")
    explain.add_argument("data", nargs="?", help="the init data (default: standard input)")
    explain.add_argument("--now", type=float, help="Unix time to judge the age at (default: now)")
    args = parser.parse_args(argv)
    token = os.environ.get("BOT_TOKEN", "")
    if not token:
        parser.error("set BOT_TOKEN to the bot's token")
    data = args.data if args.data is not None else sys.stdin.read().rstrip("\r\n")
    text, valid = report(data, bot_token=token, now=args.now)
    print(text)
    return 0 if valid else 1


if __name__ == "__main__":
    sys.exit(main())
