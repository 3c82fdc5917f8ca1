"""Quoting of texts and writing of values in the records' text form (__repr__).

Texts are observed through the `hash` member, whose quoted form ends the init-data record's repr.
"""

import gzip
import re
from pathlib import Path
from urllib.parse import quote

import pytest

from norvik_auth import parse_webapp_data

# The Unicode Character Database files the escape table was generated from (see SOURCES.md there).
UCD = Path(__file__).parent / "data" / "ucd"
TABLE_SOURCE = Path(__file__).parent.parent / "src" / "webapp_data" / "unicode_escape_table.cpp"
ESCAPED_CATEGORIES = {"Cc", "Cf", "Cs", "Co", "Cn", "Zl", "Zp", "Zs"}
NAMED_ESCAPES = {'"': '\\"', "\\": "\\\\", "\t": "\\t", "\r": "\\r", "\n": "\\n", "\0": "\\0"}

HASH_ONLY_PREFIX = repr(parse_webapp_data("hash="))[: -len('"" }')]


def quoted(text: str) -> str:
    """The text form of `text`, quotes included."""
    shown = repr(parse_webapp_data("hash=" + quote(text, safe="")))
    assert shown.startswith(HASH_ONLY_PREFIX) and shown.endswith(" }")
    return shown[len(HASH_ONLY_PREFIX): -len(" }")]


class TestQuoting:
    @pytest.mark.parametrize(
        ("text", "shown"),
        [
            ("", '""'),
            ("Ann", '"Ann"'),
            ('a"\\\né', '"a\\"\\\\\\né"'),
            ("\t\r\n\0", '"\\t\\r\\n\\0"'),
            ("\x01\x1f\x7f", '"\\u{1}\\u{1f}\\u{7f}"'),
            ("\x0b\x0c\x1b", '"\\u{b}\\u{c}\\u{1b}"'),
            ("it's", '"it\'s"'),
            (" x ", '" x "'),
            ("a\u00a0b", '"a\\u{a0}b"'),
            ("\u2028\u2029", '"\\u{2028}\\u{2029}"'),
            ("\u3000\u200b", '"\\u{3000}\\u{200b}"'),
            ("e\u0301", '"e\\u{301}"'),
            ("\u200d\ufe0f", '"\\u{200d}\\u{fe0f}"'),
            ("\ufeffx", '"\\u{feff}x"'),
            ("\u00ad", '"\\u{ad}"'),
            ("\ue000\U000f0000\U0010ffff", '"\\u{e000}\\u{f0000}\\u{10ffff}"'),
            ("\u0378\U000e0080\U0003fffe", '"\\u{378}\\u{e0080}\\u{3fffe}"'),
            ("\U000e0001\U000e0020", '"\\u{e0001}\\u{e0020}"'),
            ("\u0085", '"\\u{85}"'),
            ("\ufffd\u20ac\u4e2d\U0001F600\u00e9", '"\ufffd\u20ac\u4e2d\U0001F600\u00e9"'),
            ("\u0410\u05d0\u0627", '"\u0410\u05d0\u0627"'),
            ("x" * 1000 + "\n", '"' + "x" * 1000 + '\\n"'),
        ],
        ids=lambda v: ascii(v)[:40],
    )
    def test_escapes(self, text, shown):
        assert quoted(text) == shown

    def test_hash_attribute_is_unchanged(self):
        text = 'a"\\\n\u200b'
        assert parse_webapp_data("hash=" + quote(text)).hash == text


class TestValues:
    def test_unsigned_extremes(self):
        shown = repr(parse_webapp_data(f"can_send_after=0&auth_date={2**64 - 1}&hash=h"))
        assert "can_send_after: Some(0), auth_date: Some(18446744073709551615)," in shown

    @pytest.mark.parametrize("user_id", [-(2**63), -1, 0, 2**63 - 1])
    def test_signed_extremes(self, user_id):
        user = quote(f'{{"id": {user_id}, "first_name": "A"}}')
        shown = repr(parse_webapp_data(f"user={user}&hash=h").user)
        assert shown.startswith(f"WebAppUser {{ id: {user_id}, is_bot: None,")

    @pytest.mark.parametrize("flag", ["true", "false"])
    def test_booleans(self, flag):
        user = quote(f'{{"id": 1, "first_name": "A", "is_bot": {flag}}}')
        shown = repr(parse_webapp_data(f"user={user}&hash=h").user)
        assert f"is_bot: Some({flag})," in shown


def ucd_lines(name: str) -> list:
    with gzip.open(UCD / f"{name}.gz", "rt", encoding="utf-8") as f:
        return f.read().splitlines()


def ucd_escaped_code_points() -> set:
    """Code points in the escaped categories or with Grapheme_Extend, read from the UCD files."""
    assigned = {}
    first = None
    for line in ucd_lines("UnicodeData.txt"):
        code, name, category = line.split(";")[:3]
        code = int(code, 16)
        if name.endswith("First>"):
            first = code
        elif name.endswith("Last>"):
            assigned.update(dict.fromkeys(range(first, code + 1), category))
        else:
            assigned[code] = category
    escaped = {c for c in range(0x110000) if assigned.get(c, "Cn") in ESCAPED_CATEGORIES}
    escaped.discard(0x20)
    for line in ucd_lines("DerivedCoreProperties.txt"):
        match = re.match(r"([0-9A-F]+)(?:\.\.([0-9A-F]+))?\s*;\s*Grapheme_Extend\b", line)
        if match:
            low, high = match.group(1), match.group(2) or match.group(1)
            escaped.update(range(int(low, 16), int(high, 16) + 1))
    return escaped


class TestUnicodeTable:
    def test_every_code_point_follows_the_ucd(self):
        escaped = ucd_escaped_code_points()

        def expected(c: int) -> str:
            ch = chr(c)
            if ch in NAMED_ESCAPES:
                return NAMED_ESCAPES[ch]
            return f"\\u{{{c:x}}}" if c in escaped else ch

        code_points = [c for c in range(0x110000) if not 0xD800 <= c <= 0xDFFF]
        chunk = 8192
        for start in range(0, len(code_points), chunk):
            part = code_points[start:start + chunk]
            want = '"' + "".join(expected(c) for c in part) + '"'
            got = quoted("".join(chr(c) for c in part))
            if got != want:
                wrong = [f"U+{c:04X}" for c in part if quoted(chr(c)) != f'"{expected(c)}"']
                pytest.fail(f"escaping differs from the UCD for {wrong[:20]}")

    def test_table_was_generated_from_the_same_ucd_version(self):
        installed = re.match(r"# DerivedCoreProperties-(\d+\.\d+\.\d+)\.txt",
                             ucd_lines("DerivedCoreProperties.txt")[0])
        header = TABLE_SOURCE.read_text(encoding="utf-8").splitlines()[0]
        generated = re.search(r"Unicode Character Database (\d+\.\d+\.\d+)", header)
        assert installed and generated
        assert generated.group(1) == installed.group(1)
