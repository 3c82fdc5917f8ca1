"""Serves each example app on a free loopback port and calls its `/me` as a client would.

    python examples/serve_demo.py [webapp_server] [fastapi_app] [aiohttp_app] [flask_app]

Sends a genuine init data and several bad ones to each app (all four when none is named, leaving
out those whose framework is not installed), prints the answers as a table, stops the servers, and
fails unless every answer is the expected one. `make serve-demo` runs it.
"""

from __future__ import annotations

import importlib.util
import os
import secrets
import socket
import subprocess
import sys
import tempfile
import time
from collections.abc import Callable, Mapping, Sequence
from dataclasses import dataclass
from pathlib import Path

import httpx
from norvik_auth_extras import sign_init_data

EXAMPLES = Path(__file__).resolve().parent
# Each app and the framework it needs.
APPS = {"webapp_server": "starlette", "fastapi_app": "fastapi", "aiohttp_app": "aiohttp",
        "flask_app": "flask"}
# Generous for emulated and sanitized runs; the wait ends as soon as the app answers.
STARTUP_SECONDS = 60.0
USER = {"id": 279058397, "first_name": "Ann", "last_name": "Berg", "username": "ann_b",
        "language_code": "en"}


@dataclass
class Server:
    process: subprocess.Popen[bytes]
    url: str
    log: Path
    bot_token: str

    def log_text(self) -> str:
        return self.log.read_text(errors="replace")


def free_port() -> int:
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port: int = probe.getsockname()[1]
        return port


def authorization(init_data: str) -> dict[str, str]:
    return {"Authorization": f"InitData {init_data}"}


def signed(bot_token: str, *, age: float = 0, user: object = USER,
           extra: Mapping[str, object] | None = None) -> str:
    """Init data signed now, whose auth_date is `age` seconds ago; no user if `user` is None."""
    fields = {"query_id": "AAHdF6IQAAAAAN0XohDhrOrc", "user": user, **(extra or {})}
    return sign_init_data(fields, bot_token=bot_token, auth_date=int(time.time() - age))


def start_server(app: str, bot_token: str, log: Path, max_age: float | None = None) -> Server:
    """`python examples/<app>.py` on loopback, once a genuine request gets 200: so it is ours and
    not a stranger that took the port first, which is why a start may be retried on another port.
    """
    env = {**os.environ, "BOT_TOKEN": bot_token}
    if max_age is not None:
        env["MAX_AGE"] = str(max_age)
    for _ in range(3):
        port = free_port()
        with log.open("wb") as log_file:
            process = subprocess.Popen(
                [sys.executable, str(EXAMPLES / f"{app}.py"), "--port", str(port)],
                env=env, stdout=log_file, stderr=subprocess.STDOUT)
        server = Server(process, f"http://127.0.0.1:{port}", log, bot_token)
        deadline = time.monotonic() + STARTUP_SECONDS
        while process.poll() is None and time.monotonic() < deadline:
            try:  # trust_env=False here and below: no proxy from the environment for loopback
                answer = httpx.get(f"{server.url}/me", headers=authorization(signed(bot_token)),
                                   timeout=2.0, trust_env=False)
                if answer.status_code == 200:
                    return server
                break  # a stranger on the port, or an app that refuses genuine init data
            except httpx.TransportError:
                time.sleep(0.1)
        stop_server(server)
    raise RuntimeError(f"{app} did not start:\n{log.read_text(errors='replace')}")


def stop_server(server: Server) -> None:
    server.process.terminate()
    try:
        server.process.wait(timeout=10)
    except subprocess.TimeoutExpired:
        server.process.kill()
        server.process.wait()


MAX_AGE = 3600
# Each case: its name, the request headers made from the app's bot token just before sending,
# and the expected answer.
CASES: list[tuple[str, Callable[[str], dict[str, str]], str]] = [
    ("genuine", lambda token: authorization(signed(token)), "200"),
    ("tampered", lambda token: authorization(signed(token).replace("279058397", "1")),
     "401 signature"),
    ("other bot", lambda token: authorization(signed("1:another-bot")), "401 signature"),
    ("stale", lambda token: authorization(signed(token, age=MAX_AGE + 60)), "401 expired"),
    ("future", lambda token: authorization(signed(token, age=-600)), "401 future"),
    ("junk", lambda token: authorization("user=%7B&hash=00"), "401 malformed"),
    ("no user", lambda token: authorization(signed(token, user=None)), "401 no_user"),
    ("no header", lambda token: {}, "401 missing_authorization"),
    ("Bearer", lambda token: {"Authorization": f"Bearer {signed(token)}"},
     "401 missing_authorization"),
]


def answer_text(answer: httpx.Response) -> str:
    if answer.status_code == 200:
        return "200"
    return f"{answer.status_code} {answer.json().get('error')}"


def main(argv: Sequence[str]) -> int:
    apps = list(argv) or [app for app, module in APPS.items() if importlib.util.find_spec(module)]
    bot_token = f"{secrets.randbelow(10**10)}:{secrets.token_urlsafe(26)}"
    print(f"a generated bot token, MAX_AGE={MAX_AGE}")
    answers: dict[str, list[str]] = {}
    with tempfile.TemporaryDirectory() as scratch:
        for app in apps:
            server = start_server(app, bot_token, Path(scratch) / f"{app}.log", MAX_AGE)
            print(f"{app} served on {server.url} (pid {server.process.pid})")
            try:
                with httpx.Client(base_url=server.url, timeout=5.0, trust_env=False) as client:
                    answers[app] = [answer_text(client.get("/me", headers=make(bot_token)))
                                    for _, make, _ in CASES]
            finally:
                stop_server(server)
    rows = [["request", "expected", *apps]]
    failures = 0
    for index, (name, _, expected) in enumerate(CASES):
        got = [answers[app][index] for app in apps]
        failures += sum(answer != expected for answer in got)
        rows.append([name, expected, *got])
    widths = [max(len(row[column]) for row in rows) for column in range(len(rows[0]))]
    print()
    for row in rows:
        print("  ".join(cell.ljust(width) for cell, width in zip(row, widths)).rstrip())
    print("every answer as expected" if not failures else f"{failures} unexpected answers")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
