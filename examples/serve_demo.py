"""Starts examples/webapp_server.py on a free loopback port and calls its `/me` as a client would.

Sends a genuine, a tampered and a stale init data, prints each answer, stops the server, and
fails unless the answers are 200, 401 and 401. `make serve-demo` runs it.
"""

from __future__ import annotations

import json
import os
import secrets
import socket
import subprocess
import sys
import time
from pathlib import Path

import httpx

from demo import platform_sign

EXAMPLES = Path(__file__).resolve().parent
STARTUP_SECONDS = 20.0


def free_port() -> int:
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port: int = probe.getsockname()[1]
        return port


def start_server(bot_token: str) -> tuple[subprocess.Popen[bytes], str]:
    """The server process and its base URL, once it answers; another port if one was taken."""
    for _ in range(3):
        port = free_port()
        server = subprocess.Popen(
            [sys.executable, "-m", "uvicorn", "--factory", "--app-dir", str(EXAMPLES),
             "webapp_server:create_app", "--host", "127.0.0.1", "--port", str(port),
             "--log-level", "warning"],
            env={**os.environ, "BOT_TOKEN": bot_token},
        )
        url = f"http://127.0.0.1:{port}"
        deadline = time.monotonic() + STARTUP_SECONDS
        while server.poll() is None and time.monotonic() < deadline:
            try:  # trust_env=False here and below: no proxy from the environment for loopback
                httpx.get(f"{url}/me", timeout=1.0, trust_env=False)
                return server, url
            except httpx.TransportError:
                time.sleep(0.1)
        stop_server(server)
    raise RuntimeError("the server did not start")


def stop_server(server: subprocess.Popen[bytes]) -> None:
    server.terminate()
    try:
        server.wait(timeout=10)
    except subprocess.TimeoutExpired:
        server.kill()
        server.wait()


def init_data(bot_token: str, auth_date: int) -> str:
    user = {"id": 279058397, "first_name": "Ann", "last_name": "Berg", "username": "ann_b"}
    return platform_sign([("query_id", "AAHdF6IQAAAAAN0XohDhrOrc"), ("user", json.dumps(user)),
                          ("auth_date", str(auth_date))], bot_token)


def main() -> int:
    bot_token = f"{secrets.randbelow(10**10)}:{secrets.token_urlsafe(26)}"
    server, url = start_server(bot_token)
    print(f"server {url} (pid {server.pid}), a generated bot token")
    now = int(time.time())
    genuine = init_data(bot_token, now)
    cases = [
        ("genuine", genuine, 200),
        ("tampered", genuine.replace("279058397", "1"), 401),  # claims to be another user
        ("stale", init_data(bot_token, now - 86400), 401),      # signed a day ago
    ]
    failures = 0
    try:
        with httpx.Client(base_url=url, timeout=5.0, trust_env=False) as client:
            for name, text, expected in cases:
                answer = client.get("/me", headers={"Authorization": f"InitData {text}"})
                print(f"{name:9} -> {answer.status_code} {answer.text}")
                failures += answer.status_code != expected
    finally:
        stop_server(server)
    print("server stopped")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
