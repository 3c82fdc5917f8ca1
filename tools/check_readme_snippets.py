"""Checks that every ```python block of a Markdown file is a complete program: each one, on its
own, passes `mypy --strict` and runs to the end with exit status 0.

    python tools/check_readme_snippets.py README.md

Run it with the interpreter that has the module, its companions and mypy installed. The blocks
run with a made-up BOT_TOKEN in the environment, each in a fresh interpreter, from an empty
directory, so that none leans on the checkout or on another block.
"""

from __future__ import annotations

import os
import re
import subprocess
import sys
import tempfile
from pathlib import Path

FENCE = re.compile(r"^```python\n(.*?)^```$", re.DOTALL | re.MULTILINE)
RUN_SECONDS = 60
BOT_TOKEN = "7000000001:AAHreadme-check-token"


def python_blocks(markdown: str) -> list[tuple[int, str]]:
    """Each block's first line number in the file and its text."""
    return [(markdown.count("\n", 0, match.start()) + 2, match.group(1))
            for match in FENCE.finditer(markdown)]


def main(argv: list[str]) -> int:
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    source = Path(argv[1])
    blocks = python_blocks(source.read_text(encoding="utf-8"))
    if not blocks:
        print(f"{source}: no python blocks found")
        return 1
    failures = 0
    with tempfile.TemporaryDirectory() as scratch:
        files = []
        for index, (line, text) in enumerate(blocks, 1):
            path = Path(scratch, f"readme_block_{index}_line_{line}.py")
            path.write_text(text, encoding="utf-8")
            files.append(path)
        # One mypy run over separate modules: none imports another, so each stands alone.
        typed = subprocess.run([sys.executable, "-m", "mypy", "--strict", "--no-incremental",
                                *map(str, files)], cwd=scratch, capture_output=True, text=True)
        if typed.returncode != 0:
            print(typed.stdout + typed.stderr)
            failures += 1
        env = {**os.environ, "BOT_TOKEN": BOT_TOKEN}
        env.pop("PYTHONPATH", None)
        for path in files:
            try:
                ran = subprocess.run([sys.executable, str(path)], cwd=scratch, env=env,
                                     capture_output=True, text=True, timeout=RUN_SECONDS,
                                     stdin=subprocess.DEVNULL)
            except subprocess.TimeoutExpired:
                print(f"{path.name}: still running after {RUN_SECONDS} s")
                failures += 1
                continue
            if ran.returncode != 0:
                print(f"{path.name}: exit status {ran.returncode}\n{ran.stdout}{ran.stderr}")
                failures += 1
    print(f"{source}: {len(blocks)} python blocks, "
          + ("each passes mypy --strict and runs" if not failures else f"{failures} problem(s)"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
