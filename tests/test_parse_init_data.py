"""parse_webapp_data: form decoding, repeated names, lookup order, integers, data-check string.

The data-check string has no attribute, so it is observed through validate_webapp_data: a query
is signed with Python's hmac over the data-check string the test expects, and must validate.
"""

import json
import random
from pathlib import Path
from urllib.parse import parse_qsl, quote, unquote_plus

import pytest

from helpers import data_check_string, hex_signature, panic_of, unambiguous
from norvik_auth import parse_webapp_data, validate_webapp_data

KEY = bytes(range(7, 39))
WPT_CASES = json.loads(
    (Path(__file__).parent / "data" / "wpt-urlencoded" / "wpt_urlencoded_cases.json").read_text(
        encoding="utf-8"
    )
)["cases"]
U64_MAX = 2**64 - 1


def covers(query: str, data_check: str) -> bool:
    """Whether `query`, with a hash over `data_check` appended, validates."""
    init_data = parse_webapp_data(f"{query}&hash={hex_signature(KEY, data_check)}")
    return validate_webapp_data(init_data, KEY)


def panic_message(query: str) -> str:
    return str(panic_of(parse_webapp_data, query))


def raw_sequences(text: str):
    """The (name, value) pieces of `text` before decoding; only the splitting, none of the rest."""
    for sequence in text.split("&"):
        if sequence:
            name, _, value = sequence.partition("=")
            yield name, value


class TestFormDecoding:
    @pytest.mark.parametrize("case", WPT_CASES, ids=[case["id"] for case in WPT_CASES])
    def test_wpt_case_data_check_string(self, case):
        assert covers(case["input"], data_check_string(case["expected"]))

    @pytest.mark.parametrize("case", WPT_CASES, ids=[case["id"] for case in WPT_CASES])
    def test_wpt_case_names_and_values_as_text(self, case):
        # Each raw name and value, fed alone as the hash, must decode to the expected text.
        expected = [item for pair in case["expected"] for item in pair]
        seen = [
            parse_webapp_data("hash=" + piece).hash
            for name, value in raw_sequences(case["input"])
            for piece in (name, value)
        ]
        assert seen == expected

    @pytest.mark.parametrize(
        ("raw", "text"),
        [
            ("%zz", "%zz"),
            ("%4", "%4"),
            ("100%", "100%"),
            ("%%41", "%A"),
            ("%%%41", "%%A"),
            ("%4%41", "%4A"),
            ("a+b", "a b"),
            ("a%20b", "a b"),
            ("%2B", "+"),
            ("%2b", "+"),
            ("%3D%26", "=&"),
            ("a=b=c", "a=b=c"),
            ("%00", "\0"),
            ("%0A", "\n"),
            ("%EF%BB%BFx", "\ufeffx"),
            ("?#x", "?#x"),
        ],
        ids=lambda v: repr(v),
    )
    def test_percent_and_plus(self, raw, text):
        assert parse_webapp_data("hash=" + raw).hash == text

    @pytest.mark.parametrize(
        ("raw", "text"),
        [
            ("%FF", "\ufffd"),
            ("%C0%80", "\ufffd\ufffd"),
            ("%C1%BF", "\ufffd\ufffd"),
            ("%C2", "\ufffd"),
            ("%C2x", "\ufffdx"),
            ("%C3%A9", "é"),
            ("%E0%80", "\ufffd\ufffd"),
            ("%E0%A0", "\ufffd"),
            ("%E0%A0%80", "\u0800"),
            ("%ED%A0%80", "\ufffd\ufffd\ufffd"),
            ("%ED%9F%BF", "\ud7ff"),
            ("%E2%82", "\ufffd"),
            ("%E2%82x", "\ufffdx"),
            ("%F0%90%80A", "\ufffdA"),
            ("%F0%80%80%80", "\ufffd" * 4),
            ("%F0%9F%98%80", "\U0001F600"),
            ("%F4%8F%BF%BF", "\U0010FFFF"),
            ("%F4%90%80%80", "\ufffd" * 4),
            ("%F5%80", "\ufffd\ufffd"),
            ("%F8%88%80%80%80", "\ufffd" * 5),
            ("%80%BF", "\ufffd\ufffd"),
            ("%C3é", "\ufffdé"),
            ("%F0%9F%98é", "\ufffdé"),
        ],
        ids=lambda v: repr(v),
    )
    def test_ill_formed_utf8_becomes_one_replacement_per_maximal_subpart(self, raw, text):
        assert parse_webapp_data("hash=" + raw).hash == text

    @pytest.mark.parametrize("offset", range(18))
    def test_escapes_at_every_position_of_long_values(self, offset):
        # Long values are decoded sixteen bytes at a time: escapes, broken escapes and '+' must
        # come out the same wherever they fall relative to those steps, including at the end.
        tricky = ["%7B%22a%22%3A", "%", "%%41", "%4", "%G1", "+", "%2B", "%2b", "%C3%A9", "%E2%82",
                  "%AC", "x", "%f0%9f%98%80", "%FF", "é+%", "%00"]
        rng = random.Random(offset)
        for _ in range(40):
            value = "y" * offset + "".join(rng.choice(tricky) for _ in range(rng.randrange(4, 30)))
            assert parse_webapp_data("hash=" + value).hash == unquote_plus(value, errors="replace"), value

    def test_random_queries_match_urllib(self):
        # urllib's parse_qsl applies the same splitting, '+' and percent rules, and Python's UTF-8
        # decoder replaces maximal subparts too.
        rng = random.Random(20240611)
        pieces = ["&", "=", "+", "%", "a", "b", "2", "B", "f", "hash", "\0", "\n", "é", "😀"]
        pieces += [f"%{b:02X}" for b in (0x26, 0x3D, 0x2B, 0x41, 0x80, 0xA0, 0xBF, 0xC2, 0xE0)]
        pieces += [f"%{b:02x}" for b in (0xED, 0xF0, 0xF4, 0xF5, 0xFF, 0x9F, 0x90, 0x8F)]
        for _ in range(3000):
            query = "".join(rng.choice(pieces) for _ in range(rng.randrange(12)))
            pairs = parse_qsl(query, keep_blank_values=True, errors="replace")
            assert covers(query, data_check_string(pairs)) is unambiguous(pairs), query


class TestReshapedData:
    """Lines folded into a name or a value keep the data-check string, and so the signature,
    while the record changes; such data never validates."""

    USER = "%7B%22id%22%3A7%2C%22first_name%22%3A%22Ann%22%7D"

    def test_lines_folded_into_one_name_are_refused(self):
        genuine = f"auth_date=1700000000&query_id=AAE%3D&user={self.USER}"
        reshaped = f"auth_date%3D1700000000%0Aquery_id%3DAAE%3D%0Auser={self.USER}"
        data_check = 'auth_date=1700000000\nquery_id=AAE=\nuser={"id":7,"first_name":"Ann"}'
        assert covers(genuine, data_check)
        assert not covers(reshaped, data_check)
        record = parse_webapp_data(f"{reshaped}&hash=h")
        assert record.user is None and record.auth_date is None

    @pytest.mark.parametrize(("reshaped", "data_check"), [
        ("a=1%0Ab%3D2", "a=1\nb=2"),                                 # a value swallows a pair
        (f"auth_date=5&query_id=Q%0Auser%3D{USER}", 'auth_date=5\nquery_id=Q\nuser={"id":7,"first_name":"Ann"}'),
        ("x%3D1=2", "x=1=2"),                                        # '=' inside a name
        ("x%0Ay=1", "x\ny=1"),                                       # a line feed inside a name
        ("a%3Db=c&a=b%3Dc", "a=b=c\na=b=c"),                         # two pairs, one line twice
    ], ids=["value", "user-into-query_id", "equals-in-name", "feed-in-name", "same-line-twice"])
    def test_folded_lines_are_refused_under_the_right_signature(self, reshaped, data_check):
        assert not covers(reshaped, data_check)

    @pytest.mark.parametrize(("query", "data_check"), [
        ("query_id=AAE%3D&x=a%3D%3Db", "query_id=AAE=\nx=a==b"),       # '=' in values is fine
        ("x%0Ay=&a%3Db=&a=1", "a=1"),                                 # pairs with no line
        ("hash=a%0Ab&z=1", "z=1"),                                    # hash makes no line either
    ], ids=["base64-padding", "empty-values", "earlier-hash"])
    def test_pairs_that_make_no_ambiguous_line_still_validate(self, query, data_check):
        assert covers(query, data_check)


class TestRepeatedNames:
    def test_last_value_wins_for_fields_and_lines(self):
        init_data = parse_webapp_data("auth_date=1&hash=x&auth_date=2")
        assert init_data.auth_date == 2
        assert covers("auth_date=1&auth_date=2", "auth_date=2")

    def test_last_hash_wins(self):
        assert parse_webapp_data("hash=h1&hash=h2").hash == "h2"

    def test_earlier_bad_value_leaves_no_trace(self):
        assert parse_webapp_data("auth_date=x&auth_date=5&hash=h").auth_date == 5
        assert parse_webapp_data("user=oops&user=&user=%5B1,null,%22A%22,null,null,null,null,"
                                 "null,null,null%5D&hash=h").user.id == 1

    def test_later_empty_value_drops_the_line(self):
        init_data = parse_webapp_data("start_param=s&start_param=&hash=h")
        assert init_data.start_param == ""
        assert covers("x=1&x=&y=2", "y=2")

    def test_names_compare_as_exact_bytes(self):
        assert parse_webapp_data("%68ash=abc").hash == "abc"
        assert panic_message("Hash=abc") == "Hash is required"
        assert panic_message("hash%20=abc& hash=x") == "Hash is required"
        assert parse_webapp_data("query_id=a&query%5Fid=b&hash").query_id == "b"
        assert parse_webapp_data("?query_id=Q&hash=h").query_id is None


# A bad value for each failing member, in lookup order, with the message it gives.
BAD_MEMBERS = {
    "user": ("user=1", 'Unable to parse user: Error("invalid type: integer `1`, '
             'expected struct WebAppUser", line: 1, column: 1)'),
    "receiver": ("receiver=%7B%7D", 'Unable to parse receiver: Error("missing field `id`", '
                 "line: 1, column: 2)"),
    "chat": ("chat=", 'Unable to parse chat: Error("EOF while parsing a value", '
             "line: 1, column: 0)"),
    "auth_date": ("auth_date=-1", "Unable to parse auth_date: ParseIntError { kind: "
                  "InvalidDigit }"),
    "hash": ("", "Hash is required"),
    "can_send_after": ("can_send_after=", "Unable to parse can_send_after: ParseIntError { "
                       "kind: Empty }"),
}
LOOKUP_ORDER = list(BAD_MEMBERS)


class TestLookupOrder:
    @pytest.mark.parametrize(
        ("first", "second"),
        [(a, b) for i, a in enumerate(LOOKUP_ORDER) for b in LOOKUP_ORDER[i + 1:]],
        ids=lambda v: v,
    )
    def test_earlier_field_is_reported_whatever_the_input_order(self, first, second):
        present = [BAD_MEMBERS[name][0] for name in (first, second) if name != "hash"]
        if "hash" not in (first, second):
            present.append("hash=h")
        expected = BAD_MEMBERS[first][1]
        assert panic_message("&".join(present)) == expected
        assert panic_message("&".join(reversed(present))) == expected

    def test_empty_and_ampersand_only_inputs(self):
        assert panic_message("") == "Hash is required"
        assert panic_message("&&&") == "Hash is required"

    def test_text_fields_never_fail(self):
        init_data = parse_webapp_data("query_id=&chat_type=%FF&chat_instance=-7&start_param=&hash")
        assert (init_data.query_id, init_data.chat_type, init_data.chat_instance) == (
            "", "\ufffd", "-7")
        assert (init_data.start_param, init_data.hash) == ("", "")

    def test_null_json_does_not_make_the_field_absent(self):
        assert panic_message("user=null&hash=h") == (
            'Unable to parse user: Error("invalid type: null, expected struct WebAppUser", '
            "line: 1, column: 4)")

    def test_only_hash_leaves_every_other_field_absent(self):
        init_data = parse_webapp_data("hash=abc")
        fields = ["query_id", "user", "receiver", "chat", "chat_type", "chat_instance",
                  "start_param", "can_send_after", "auth_date"]
        assert [getattr(init_data, name) for name in fields] == [None] * len(fields)
        assert init_data.hash == "abc"
        assert parse_webapp_data("hash").hash == ""


class TestIntegerFields:
    @pytest.mark.parametrize(
        ("raw", "value"),
        [
            ("0", 0),
            ("007", 7),
            ("%2B17", 17),
            ("%2B0", 0),
            (str(U64_MAX), U64_MAX),
            ("0000000000000000000000" + str(U64_MAX), U64_MAX),
            (str(2**63), 2**63),
        ],
        ids=lambda v: str(v),
    )
    @pytest.mark.parametrize("field", ["auth_date", "can_send_after"])
    def test_accepted(self, field, raw, value):
        assert getattr(parse_webapp_data(f"{field}={raw}&hash=h"), field) == value

    @pytest.mark.parametrize(
        ("raw", "kind"),
        [
            ("", "Empty"),
            ("%2B", "InvalidDigit"),
            ("-", "InvalidDigit"),
            ("-0", "InvalidDigit"),
            ("-1", "InvalidDigit"),
            ("+17", "InvalidDigit"),
            ("%2B%2B1", "InvalidDigit"),
            ("%2B-1", "InvalidDigit"),
            ("1%20", "InvalidDigit"),
            ("%201", "InvalidDigit"),
            ("1_000", "InvalidDigit"),
            ("0x10", "InvalidDigit"),
            ("1e3", "InvalidDigit"),
            ("1.0", "InvalidDigit"),
            ("%EF%BC%91", "InvalidDigit"),
            ("%D9%A1", "InvalidDigit"),
            ("1%00", "InvalidDigit"),
            (str(U64_MAX + 1), "PosOverflow"),
            (str(U64_MAX) + "0", "PosOverflow"),
            ("9" * 20 + "x", "PosOverflow"),
            ("1x" + "9" * 20, "InvalidDigit"),
            ("%2B" + "9" * 25, "PosOverflow"),
        ],
        ids=lambda v: repr(v),
    )
    @pytest.mark.parametrize("field", ["auth_date", "can_send_after"])
    def test_refused_with_kind(self, field, raw, kind):
        assert panic_message(f"{field}={raw}&hash=h") == (
            f"Unable to parse {field}: ParseIntError {{ kind: {kind} }}")

    def test_line_keeps_the_text_not_the_number(self):
        assert covers("auth_date=%2B5&can_send_after=0005", "auth_date=+5\ncan_send_after=0005")
        assert not covers("auth_date=%2B5", "auth_date=5")


class TestDataCheckString:
    @pytest.mark.parametrize(
        ("query", "data_check"),
        [
            ("b=2&a=1", "a=1\nb=2"),
            ("a=1&a-b=2", "a-b=2\na=1"),
            ("x=&y", ""),
            ("start_param=", ""),
            ("Hash=abc", "Hash=abc"),
            ("?query_id=Q", "?query_id=Q"),
            ("x=a+b&y=a%20b", "x=a b\ny=a b"),
            ("a=b%26c=d", "a=b&c=d"),
            ("x=%FF", "x=\ufffd"),
            ("=x", "=x"),
            ("z=%C3%A9&z%C3%A9=1&zz=1", "z=é\nzz=1\nzé=1"),
            ("a=%EF%BF%BD&b=%F0%9F%98%80", "a=\ufffd\nb=😀"),
            ("%F0%9F%98%80=1&%EF%BF%BD=2", "\ufffd=2\n😀=1"),
            ("x=%00&%00=y", "\0=y\nx=\0"),
            ("chat_type=private&unknown=1", "chat_type=private\nunknown=1"),
            ("user=%7B%22id%22:%201,%20%22first_name%22:%22A%22%7D",
             'user={"id": 1, "first_name":"A"}'),
        ],
        ids=lambda v: repr(v),
    )
    def test_lines(self, query, data_check):
        assert covers(query, data_check)

    def test_hash_only_signs_the_empty_message(self):
        assert covers("hash=other", "")

    def test_wrong_order_does_not_validate(self):
        assert not covers("b=2&a=1", "b=2\na=1")
        assert not covers("b=2&a=1", "a=1\nb=2\n")

    def test_json_members_appear_as_received(self):
        user = quote('[7, null, "A", null, null, null, null, null, null, null]')
        init_data = parse_webapp_data(f"user={user}&hash=h")
        assert init_data.user.id == 7
        assert covers(f"user={user}", 'user=[7, null, "A", null, null, null, null, null, null, null]')


class TestLargeInputs:
    def test_many_separators(self):
        assert panic_message("&" * 3_000_000) == "Hash is required"

    def test_many_repeats_of_one_name(self):
        assert parse_webapp_data("hash=a&" * 500_000 + "hash=b").hash == "b"

    def test_many_distinct_names(self):
        pairs = [(f"k{i}", f"v{i % 97}") for i in range(100_000)]
        query = "&".join(f"{name}={value}" for name, value in pairs)
        assert covers(query, data_check_string(pairs))

    def test_long_values_with_escapes_and_nul(self):
        value = "%00%FF+%" * 300_000
        init_data = parse_webapp_data("hash=" + value)
        assert init_data.hash == "\0\ufffd %" * 300_000


NAME_LETTERS = "abcdefghijklmnopqrstuvwx"
KNOWN_TEXT_FIELDS = {"query_id": "q", "chat_type": "group", "chat_instance": "5", "start_param": "s"}


def near_names(name: str) -> list[str]:
    """`name` with its last byte changed, and with its first byte changed."""
    return [name[:-1] + "Y", "Z" + name[1:]]


class TestNamesThatDifferInOneByte:
    @pytest.mark.parametrize("length", range(1, 25))
    def test_stay_apart_in_the_data_check_string(self, length):
        name = NAME_LETTERS[:length]
        for pairs in ([(name, "1"), *zip(near_names(name), "23")], [*zip(near_names(name), "23"), (name, "1")]):
            query = "&".join(f"{n}={v}" for n, v in pairs)
            assert len(data_check_string(pairs).split("\n")) == 3
            assert covers(query, data_check_string(pairs)), query

    @pytest.mark.parametrize("field", KNOWN_TEXT_FIELDS)
    def test_a_near_name_does_not_replace_a_known_field(self, field):
        value = KNOWN_TEXT_FIELDS[field]
        decoys = "&".join(f"{near}=evil" for near in near_names(field))
        for query in (f"{field}={value}&{decoys}&hash=h", f"{decoys}&{field}={value}&hash=h"):
            assert getattr(parse_webapp_data(query), field) == value, query
