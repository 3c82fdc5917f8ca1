"""Judges a valgrind XML log: fails on any error or definite leak that involves the module.

The interpreter keeps some memory until exit and trips a few uninitialised-value reports of
its own; rather than suppressing those by pattern (which could hide the module's), every
report is read and blamed on the module when any frame of its stacks lies in the module's
shared object or its sources. The rest are counted and shown, never hidden.

usage: python valgrind_report.py VALGRIND.xml
"""

import sys
import xml.etree.ElementTree as ElementTree
from collections import Counter

MODULE_OBJECT = "norvik_auth"
SOURCE_DIRECTORIES = ("/src/lib/", "/src/binding/", "/src/webapp_data/")
LEAKS = {"Leak_DefinitelyLost", "Leak_IndirectlyLost"}


def frames(error):
    for stack in error.iter("stack"):
        yield from stack.iter("frame")


def involves_module(error) -> bool:
    for frame in frames(error):
        obj = frame.findtext("obj") or ""
        directory = frame.findtext("dir") or ""
        if MODULE_OBJECT in obj.rsplit("/", 1)[-1] or any(part in directory + "/" for part in SOURCE_DIRECTORIES):
            return True
    return False


def describe(error) -> str:
    lines = [f"{error.findtext('kind')}: {error.findtext('what') or error.findtext('xwhat/text') or ''}"]
    notes = [note.text for note in error.iter("auxwhat")]
    for index, stack in enumerate(error.iter("stack")):
        if index > 0:
            lines.append("  " + (notes[index - 1] if index - 1 < len(notes) else "and"))
        for frame in list(stack.iter("frame"))[:20]:
            where = frame.findtext("file")
            where = f"{where}:{frame.findtext('line')}" if where else frame.findtext("obj")
            lines.append(f"    {frame.findtext('fn') or '?'} ({where})")
    return "\n".join(lines)


def main(path: str) -> int:
    errors = ElementTree.parse(path).getroot().findall("error")
    blamed = [error for error in errors if involves_module(error)]
    others = Counter(error.findtext("kind") for error in errors if error not in blamed)
    definite = sum(1 for error in errors if error.findtext("kind") in LEAKS)
    print(f"valgrind: {len(errors)} reports, {definite} definite or indirect leaks, "
          f"{len(blamed)} involving the module")
    for kind, count in sorted(others.items()):
        print(f"  interpreter only: {count} x {kind}")
    for error in blamed:
        print(describe(error))
    return 1 if blamed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
