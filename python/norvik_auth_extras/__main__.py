"""The command line, with the bot token from $BOT_TOKEN:

    python -m norvik_auth_extras explain [DATA]     the init data from the argument or standard input
    python -m norvik_auth_extras sign [NAME=VALUE ...] [--auth-date N]

explain exits with 0 when the init data is valid, 1 when refused; sign prints the signed init
data and exits with 0. Both exit with 2 on misuse or when the environment fails them (no token,
an unreadable input, an unwritable output, fields the signer refuses), with one line on standard
error and never a traceback: a script must not read a failure as "refused"."""

# pyright: strict
from __future__ import annotations

import argparse
import io
import math
import os
import sys
from typing import NoReturn, Optional

from norvik_binding import PanicException

from ._explain import MAX_CHARS, report, shown
from ._signing import sign_init_data

PROG = "python -m norvik_auth_extras"


class _Misuse(Exception):
    """Exit status 2, with the message as the line on standard error."""


class _Parser(argparse.ArgumentParser):
    def error(self, message: str) -> NoReturn:
        # argparse would print the usage too; one line says enough, and --help the rest.
        raise _Misuse(f"{message} (see --help)")


def _finite(text: str) -> float:
    value = float(text)
    if not math.isfinite(value):
        raise ValueError(text)
    return value


_finite.__name__ = "finite Unix time"  # argparse names the type in its message


def _read_stdin() -> str:
    stream = sys.stdin
    if stream is None:  # file descriptor 0 was closed when the interpreter started
        raise _Misuse("no init data: standard input is closed")
    # Bounded: more than MAX_CHARS characters is reported as too large whatever follows. Bytes,
    # decoded as the arguments are, so that an undecodable byte is malformed data, not a crash.
    limit = 4 * MAX_CHARS + 8
    try:
        buffer = getattr(stream, "buffer", None)
        if buffer is None:
            text = stream.read(limit)
        else:
            text = buffer.read(limit).decode("utf-8", "surrogateescape")
    except OSError as error:
        raise _Misuse(f"cannot read standard input: {error.strerror or error}") from None
    return text.rstrip("\r\n")


def _write(text: str, what: str) -> None:
    stream = sys.stdout
    if stream is None:
        raise _Misuse(f"cannot write {what}: standard output is closed")
    try:
        if isinstance(stream, io.TextIOWrapper):
            # A terminal in an ASCII locale gets \xe9 for an é rather than a crash.
            stream.reconfigure(errors="backslashreplace")
        stream.write(text + "\n")
        stream.flush()
    except OSError as error:
        # What is still buffered would fail again, with a traceback, at the interpreter's exit.
        try:
            os.dup2(os.open(os.devnull, os.O_WRONLY), stream.fileno())
        except (OSError, ValueError):
            pass
        raise _Misuse(f"cannot write {what}: {error.strerror or error}") from None


def _utf8(text: str, what: str) -> str:
    try:
        text.encode()
    except UnicodeEncodeError:  # bytes that are not UTF-8, which the interpreter made surrogates
        raise _Misuse(f"{what} is not UTF-8") from None
    return text


def _bot_token() -> str:
    token = os.environ.get("BOT_TOKEN", "")
    if not token:
        raise _Misuse("set BOT_TOKEN to the bot's token")
    return _utf8(token, "BOT_TOKEN")


def _fields(arguments: list[str]) -> dict[str, str]:
    fields: dict[str, str] = {}
    for argument in arguments:
        name, equals, value = _utf8(argument, f"the argument {argument!r}").partition("=")
        if not equals:
            raise _Misuse(f"{argument!r} is not NAME=VALUE")
        if name in fields:
            raise _Misuse(f"the field {name!r} is given twice")
        fields[name] = value
    return fields


def _sign(args: argparse.Namespace) -> int:
    fields = _fields(args.fields)
    try:
        text = sign_init_data(fields, bot_token=_bot_token(), auth_date=args.auth_date)
    except (TypeError, ValueError) as error:
        raise _Misuse(f"cannot sign these fields: {error}") from None
    _write(text, "the init data")
    return 0


def _run(argv: Optional[list[str]]) -> int:
    parser = _Parser(prog=PROG, description="Tools for signed init data.")
    commands = parser.add_subparsers(dest="command", required=True)
    explain = commands.add_parser("explain", help="show what init data holds and why it fails",
                                  description="The bot token is read from $BOT_TOKEN.")
    explain.add_argument("data", nargs="?", help="the init data (default: standard input)")
    explain.add_argument("--now", type=_finite,
                         help="Unix time to judge the age at (default: now)")
    sign = commands.add_parser(
        "sign", help="print init data signed with the bot's token, for tests",
        description="The bot token is read from $BOT_TOKEN. The values of user, receiver and "
                    "chat are JSON, signed as written.")
    sign.add_argument("fields", nargs="*", metavar="NAME=VALUE", help="a field of the init data")
    sign.add_argument("--auth-date", type=int, metavar="N",
                      help="auth_date as a Unix time (default: now)")
    args = parser.parse_args(argv)
    if args.command == "sign":
        return _sign(args)
    token = _bot_token()
    data: str = args.data if args.data is not None else _read_stdin()
    text, valid = report(data, bot_token=token, now=args.now)
    _write(text, "the report")
    if valid is None:
        raise _Misuse(f"the init data is longer than {MAX_CHARS} characters; not explained")
    return 0 if valid else 1


def _complain(message: str) -> None:
    try:
        print(f"{PROG}: {shown(message)}", file=sys.stderr)
    except (OSError, AttributeError, ValueError):  # no standard error to complain on
        pass


def main(argv: Optional[list[str]] = None) -> int:
    try:
        return _run(argv)
    except _Misuse as error:
        _complain(str(error))
    except (Exception, PanicException) as error:  # never a traceback, and never exit status 1
        _complain(f"failed: {type(error).__name__}: {error}")
    return 2


if __name__ == "__main__":
    sys.exit(main())
