"""User and chat records decoded from the JSON members of init data."""

import json
from pathlib import Path
from urllib.parse import quote

import pytest

import norvik_auth
from helpers import panic_of

SUITE = Path(__file__).parent / "data" / "jsontestsuite" / "test_parsing"


def parse(member: str, json_text: str):
    return norvik_auth.parse_webapp_data(f"{member}={quote(json_text, safe='')}&hash=h")


def failure(member: str, json_text: str) -> str:
    return str(panic_of(parse, member, json_text))


def user_error(json_text: str) -> str:
    message = failure("user", json_text)
    assert message.startswith("Unable to parse user: ")
    return message[len("Unable to parse user: "):]


def chat_error(json_text: str) -> str:
    message = failure("chat", json_text)
    assert message.startswith("Unable to parse chat: ")
    return message[len("Unable to parse chat: "):]


def err(message: str, line: int, column: int) -> str:
    escaped = message.replace("\\", "\\\\").replace('"', '\\"')
    return f'Error("{escaped}", line: {line}, column: {column})'


class TestUserObjectForm:
    def test_required_members_only(self):
        user = parse("user", '{"id": 1, "first_name": "A"}').user
        assert (user.id, user.first_name) == (1, "A")
        for name in ("is_bot", "last_name", "username", "language_code", "is_premium",
                     "added_to_attachment_menu", "allows_write_to_pm", "photo_url"):
            assert getattr(user, name) is None
        assert repr(user) == (
            'WebAppUser { id: 1, is_bot: None, first_name: "A", last_name: None, username: None, '
            "language_code: None, is_premium: None, added_to_attachment_menu: None, "
            "allows_write_to_pm: None, photo_url: None }")

    def test_every_member(self):
        user = parse("user", '{"id": -7, "is_bot": false, "first_name": "Ann", "last_name": "B",'
                             ' "username": "ann_b", "language_code": "en", "is_premium": true,'
                             ' "added_to_attachment_menu": false, "allows_write_to_pm": true,'
                             ' "photo_url": "https://x/y.jpg"}').user
        assert (user.id, user.is_bot, user.first_name, user.last_name, user.username,
                user.language_code, user.is_premium, user.added_to_attachment_menu,
                user.allows_write_to_pm, user.photo_url) == (
            -7, False, "Ann", "B", "ann_b", "en", True, False, True, "https://x/y.jpg")

    def test_null_optionals_and_unknown_members_of_any_shape(self):
        user = parse("user", '{"extra": {"a": [1, 2, {}]}, "id": 1, "is_bot": null, '
                             '"first_name": "A", "extra": [null, true, -1.5e3, "\\ud800"],'
                             ' "last_name": null}').user
        assert (user.id, user.is_bot, user.last_name) == (1, None, None)

    def test_whitespace_around_the_record(self):
        assert parse("user", ' \t\r\n{"id":1,"first_name":"A"}\n \n').user.id == 1

    @pytest.mark.parametrize("value, expected", [
        ("-9223372036854775808", -9223372036854775808),
        ("9223372036854775807", 9223372036854775807),
        ("0", 0),
    ])
    def test_id_range(self, value, expected):
        assert parse("user", f'{{"id": {value}, "first_name": "A"}}').user.id == expected

    def test_escapes_and_surrogate_pairs(self):
        user = parse("user", r'{"id": 1, "first_name": "\"\\\/\b\f\n\r\t\u00e9\ud83d\ude00\u0000"}').user
        assert user.first_name == '"\\/\b\f\n\r\té\U0001F600\x00'


class TestUserFailures:
    @pytest.mark.parametrize("text, expected", [
        ('{"first_name": "A"}', err("missing field `id`", 1, 19)),
        ('{"id": 1}', err("missing field `first_name`", 1, 9)),
        ("{}", err("missing field `id`", 1, 2)),
        ('{"id": 1, "id": 2, "first_name": "A"}', err("duplicate field `id`", 1, 15)),
        ('{"id": 1, "is_bot": null, "is_bot": null, "first_name": "A"}',
         err("duplicate field `is_bot`", 1, 35)),
        ('{"id": 1, "first_name": "A", "is_bot": 1}',
         err("invalid type: integer `1`, expected a boolean", 1, 41)),
        ('{"id": "5", "first_name": "A"}', err('invalid type: string "5", expected i64', 1, 11)),
        ('{"id": 1.0, "first_name": "A"}',
         err("invalid type: floating point `1.0`, expected i64", 1, 11)),
        ('{"id": 1e2, "first_name": "A"}',
         err("invalid type: floating point `100.0`, expected i64", 1, 11)),
        ('{"id": -0, "first_name": "A"}',
         err("invalid type: floating point `-0.0`, expected i64", 1, 10)),
        ('{"id": 9223372036854775808, "first_name": "A"}',
         err("invalid value: integer `9223372036854775808`, expected i64", 1, 27)),
        ('{"id": 18446744073709551615}',
         err("invalid value: integer `18446744073709551615`, expected i64", 1, 28)),
        ('{"id": -9223372036854775809}',
         err("invalid type: floating point `-9223372036854776000.0`, expected i64", 1, 28)),
        ('{"id": 18446744073709551616}',
         err("invalid type: floating point `18446744073709552000.0`, expected i64", 1, 28)),
        ('{"id": 01, "first_name": "A"}', err("invalid number", 1, 9)),
        ('{"id": 1e400}', err("number out of range", 1, 12)),
        ('{"id": null}', err("invalid type: null, expected i64", 1, 12)),
        ('{"id": [1]}', err("invalid type: sequence, expected i64", 1, 8)),
        ('{"id": {}}', err("invalid type: map, expected i64", 1, 8)),
        ('{"id": 1, "first_name": null}', err("invalid type: null, expected a string", 1, 29)),
        ('{"id": 1, "first_name": true}',
         err("invalid type: boolean `true`, expected a string", 1, 29)),
        ('{"id": 1, "first_name": "A", "is_bot": "yes"}',
         err('invalid type: string "yes", expected a boolean', 1, 45)),
    ], ids=lambda v: v if len(v) < 40 else v[:40])
    def test_record_rules(self, text, expected):
        assert user_error(text) == expected

    @pytest.mark.parametrize("text, expected", [
        ("", err("EOF while parsing a value", 1, 0)),
        ("   ", err("EOF while parsing a value", 1, 3)),
        ("null", err("invalid type: null, expected struct WebAppUser", 1, 4)),
        ('"x"', err('invalid type: string "x", expected struct WebAppUser', 1, 3)),
        ("12", err("invalid type: integer `12`, expected struct WebAppUser", 1, 2)),
        ("true", err("invalid type: boolean `true`, expected struct WebAppUser", 1, 4)),
        ('{"id": 1, "first_name": "A"} x', err("trailing characters", 1, 30)),
        ('{"id": 1, "first_name": "A"}\n\n  x', err("trailing characters", 3, 3)),
        ('{"id": 1, "first_name": "A",}', err("trailing comma", 1, 29)),
        ('{"id": 1 "first_name": "A"}', err("expected `,` or `}`", 1, 10)),
        ('{"id" 1}', err("expected `:`", 1, 7)),
        ('{"id": 1, "first_name": "A"', err("EOF while parsing an object", 1, 27)),
        ('{"id": 1,', err("EOF while parsing a value", 1, 9)),
        ("{1: 2}", err("key must be a string", 1, 2)),
        ('{"id": 1, "first_name": nul}', err("expected ident", 1, 28)),
        ('{"id": 1, "first_name": "A", "is_bot": tru', err("EOF while parsing a value", 1, 42)),
        ('{"id": 1, "first_name": "\\q"}', err("invalid escape", 1, 27)),
        # A \u escape fails at its first byte that is no hex digit, in names, values and
        # skipped members alike; one that the text cuts short fails at the end of the text.
        ('{"id": 1, "first_name": "\\u12G4"}', err("invalid escape", 1, 30)),
        ('{"a\\uZ000":1}', err("invalid escape", 1, 6)),
        ('{"id": 1, "first_name": "\\u0Z00"}', err("invalid escape", 1, 29)),
        ('{"id": 1, "x": "\\uabcZ", "first_name": "A"}', err("invalid escape", 1, 22)),
        ('{"id": 1, "x": ["\\uZ"], "first_name": "A"}', err("invalid escape", 1, 20)),
        ('{"id": 1, "first_name": "\\u0Z', err("EOF while parsing a string", 1, 29)),
        ('{"id": 1, "first_name": "\\udc00"}', err("lone leading surrogate in hex escape", 1, 31)),
        ('{"id": 1, "first_name": "\\ud800\\u0041"}',
         err("lone leading surrogate in hex escape", 1, 37)),
        ('{"id": 1, "first_name": "\\ud800x"}', err("unexpected end of hex escape", 1, 32)),
        ('{"id": 1, "first_name": "A\x01"}',
         err("control character (\\u0000-\\u001F) found while parsing a string", 1, 27)),
        ('{"id": 1, "first_name": "A', err("EOF while parsing a string", 1, 26)),
        ('{"id": 1, "x": [1,], "first_name": "A"}', err("expected value", 1, 19)),
        ('{"id": 1, "x": {"a":1,}, "first_name": "A"}', err("key must be a string", 1, 23)),
        ('{"id": 1, "x": [1 2]}', err("expected `,` or `]`", 1, 19)),
        ('{"id": 1, "x": "\x1f"}', err("control character (\\u0000-\\u001F) found while parsing a string", 1, 16)),
        ('{"id": 1, "x": [[[', err("EOF while parsing a list", 1, 18)),
    ], ids=lambda v: v if len(v) < 40 else v[:40])
    def test_syntax(self, text, expected):
        assert user_error(text) == expected

    def test_error_text_is_escaped_like_the_text_form(self):
        assert user_error('{"id": "a\\"b\\\\c\\n\\u200b"}') == (
            r'Error("invalid type: string \"a\\\"b\\\\c\\n\\u{200b}\", expected i64", '
            "line: 1, column: 25)")


class TestStringsAtEveryBlockOffset:
    # Strings are scanned 64 bytes of the text at a time; a byte that ends a plain run must be
    # found wherever it falls in a block, in the last partial block and after whole plain ones,
    # in decoded names and values and in skipped members, in texts shorter than one block too.
    PREFIX = '{"id":1,"first_name":"'
    CONTROL = "control character (\\u0000-\\u001F) found while parsing a string"

    @pytest.mark.parametrize("piece", ['\\"', "\\\\", "\\n", "\\u00e9", "\\ud83d\\ude00", "\u00e9"])
    def test_decoded_like_json_loads(self, piece):
        for lead in range(150):
            value = "a" * lead + piece + "b" * (lead % 67)
            # The piece in a decoded value, an unknown member's name and its skipped value.
            across_blocks = (self.PREFIX + value + '","zz' + value + '":"' + value
                             + '","last_name":"' + "c" * (lead % 70) + '"}')
            short = self.PREFIX + piece * (lead % 5) + "d" * lead + '"}'
            for text in (across_blocks, short):
                expected = json.loads(text)
                user = parse("user", text).user
                assert (user.first_name, user.last_name) == (
                    expected["first_name"], expected.get("last_name")), text

    def test_control_characters(self):
        for lead in range(150):
            for control in "\x00\x1f":
                # Decoding reports the byte after it, skipping the byte itself.
                text = self.PREFIX + "a" * lead + control + '"}'
                assert user_error(text) == err(self.CONTROL, 1, len(self.PREFIX) + lead + 1)
                text = '{"id":1,"z":"' + "a" * lead + control + '"}'
                assert user_error(text) == err(self.CONTROL, 1, 13 + lead)

    def test_text_ending_inside_a_string(self):
        for lead in range(150):
            for start in (self.PREFIX, '{"id":1,"z":"'):
                text = start + "a" * lead
                assert user_error(text) == err("EOF while parsing a string", 1, len(text))
                eof = err("EOF while parsing a string", 1, len(text) + 1)
                assert user_error(text + "\\") == eof
                # The last byte of the text is looked at too.
                column = len(text) + (start == self.PREFIX)
                assert user_error(text + "\x01") == err(self.CONTROL, 1, column)


class TestUserArrayForm:
    def test_full_array(self):
        user = parse("user", '[1, null, "A", null, null, null, null, null, null, null]').user
        assert (user.id, user.first_name, user.is_bot) == (1, "A", None)

    def test_values_in_declaration_order(self):
        user = parse("user", '[5, true, "F", "L", "u", "de", false, true, false, "p"]').user
        assert repr(user) == (
            'WebAppUser { id: 5, is_bot: Some(true), first_name: "F", last_name: Some("L"), '
            'username: Some("u"), language_code: Some("de"), is_premium: Some(false), '
            "added_to_attachment_menu: Some(true), allows_write_to_pm: Some(false), "
            'photo_url: Some("p") }')

    @pytest.mark.parametrize("text, expected", [
        ('[1, null, "A"]', err("invalid length 3, expected struct WebAppUser with 10 elements", 1, 14)),
        ("[]", err("invalid length 0, expected struct WebAppUser with 10 elements", 1, 2)),
        ('[1, null, "A", null, null, null, null, null, null, null, null]',
         err("trailing characters", 1, 58)),
        ('[1, null, "A", null, null, null, null, null, null, null,]', err("trailing comma", 1, 57)),
        ('[1, null, "A"', err("EOF while parsing a list", 1, 13)),
        ('[1 null]', err("expected `,` or `]`", 1, 4)),
        ('[1, null, "A", null, null, null, null, null, null, null',
         err("EOF while parsing a list", 1, 55)),
    ], ids=lambda v: v if len(v) < 40 else v[:40])
    def test_failures(self, text, expected):
        assert user_error(text) == expected


class TestChat:
    def test_decodes_type_member_with_underscore(self):
        chat = parse("chat", '{"id": -100, "type_": "group", "title": "Team"}').chat
        assert (chat.id, chat.type, chat.title, chat.username, chat.photo_url) == (
            -100, "group", "Team", None, None)
        assert repr(chat) == (
            'WebAppChat { id: -100, type_: "group", title: "Team", username: None, photo_url: None }')

    def test_array_form(self):
        chat = parse("chat", '[7, "private", "T", "u", null]').chat
        assert (chat.id, chat.type, chat.title, chat.username, chat.photo_url) == (
            7, "private", "T", "u", None)

    @pytest.mark.parametrize("text, expected", [
        ('{"id": 1, "type": "private", "title": "T"}', err("missing field `type_`", 1, 42)),
        ('{"id": 1, "type_": "private"}', err("missing field `title`", 1, 29)),
        ('{"id": 1, "type_": "p", "title": null}',
         err("invalid type: null, expected a string", 1, 38)),
        ("[1]", err("invalid length 1, expected struct WebAppChat with 5 elements", 1, 3)),
        ("null", err("invalid type: null, expected struct WebAppChat", 1, 4)),
    ])
    def test_failures(self, text, expected):
        assert chat_error(text) == expected

    def test_receiver_is_a_user(self):
        assert failure("receiver", "{}") == (
            'Unable to parse receiver: Error("missing field `id`", line: 1, column: 2)')


class TestUntrustedShapes:
    def test_deep_nesting_in_unknown_member(self):
        depth = 1_000_000
        text = '{"id": 1, "first_name": "A", "x": ' + "[" * depth + "]" * depth + "}"
        assert parse("user", text).user.id == 1
        text = '{"id": 1, "first_name": "A", "x": ' + '{"k":' * depth + "0" + "}" * depth + "}"
        assert parse("user", text).user.id == 1

    def test_unclosed_deep_nesting_fails_cleanly(self):
        depth = 1_000_000
        assert user_error('{"x": ' + "[" * depth) == err("EOF while parsing a list", 1, depth + 6)

    @pytest.mark.parametrize("path", sorted(SUITE.glob("y_*.json")), ids=lambda p: p.name)
    def test_valid_documents_are_skipped_as_unknown_members(self, path):
        document = path.read_bytes().decode("utf-8")
        user = parse("user", '{"id": 1, "x": ' + document + ', "first_name": "A"}').user
        assert user.first_name == "A"

    @pytest.mark.parametrize("path", sorted(SUITE.glob("n_*.json")), ids=lambda p: p.name)
    def test_invalid_documents_are_refused_as_unknown_members(self, path):
        document = path.read_bytes().decode("utf-8")
        message = user_error('{"id": 1, "first_name": "A", "x": ' + document + "}")
        assert message.startswith('Error("')


class TestNestedRecordsOutliveTheirInitData:
    # Nested records share their texts with the init data they came from.
    USER = ('{"id": 5, "first_name": "Jos\\u00e9 \\"Pepe\\"", "last_name": "' + "L" * 300 + '",'
            ' "username": "jp", "photo_url": "https://example.org/p/\\ud83d\\ude00.png"}')
    CHAT = '{"id": -9, "type_": "supergroup", "title": "' + "Ti\\ttle " * 40 + '"}'

    def snapshot(self, record, names):
        return [getattr(record, name) for name in names] + [repr(record)]

    def test_texts_stay_intact_after_the_init_data_is_gone(self):
        import gc

        query = (f"user={quote(self.USER, safe='')}&receiver={quote(self.USER, safe='')}"
                 f"&chat={quote(self.CHAT, safe='')}&hash=h")
        data = norvik_auth.parse_webapp_data(query)
        user_names = ("id", "first_name", "last_name", "username", "photo_url")
        chat_names = ("id", "type", "title", "username", "photo_url")
        user, receiver, chat = data.user, data.receiver, data.chat
        expected = [self.snapshot(user, user_names), self.snapshot(receiver, user_names),
                    self.snapshot(chat, chat_names)]
        assert expected[0][1] == 'José "Pepe"' and expected[0][4].endswith("/\U0001F600.png")
        del data
        gc.collect()
        # Churn the allocator: freed memory would now hold other texts.
        churn = [norvik_auth.parse_webapp_data(query.replace("L", "M")) for _ in range(200)]
        churn += [b"\xff" * 512 for _ in range(200)]
        assert [self.snapshot(user, user_names), self.snapshot(receiver, user_names),
                self.snapshot(chat, chat_names)] == expected

    def test_nested_records_release_the_init_data(self):
        import sys

        data = parse("user", '{"id": 1, "first_name": "A"}')
        before = sys.getrefcount(data)
        users = [data.user for _ in range(10)]
        assert sys.getrefcount(data) == before + 10
        del users
        assert sys.getrefcount(data) == before


CUT_OFF_NUMBERS = ["-", "-0.", "1.", "1e", "1E+", "0.5e-", "12E", "3e+"]


class TestNumbersCutOffByTheEnd:
    """A number that the text ends after its sign, point or exponent marker lacks its digits."""

    @pytest.mark.parametrize("number", CUT_OFF_NUMBERS)
    @pytest.mark.parametrize("before", ['{"id":1,"first_name":"x","z": ', '{"z":', '{"id": 1, "x": [1, {"y": ['])
    def test_in_a_skipped_value_is_an_invalid_number(self, before, number):
        text = before + number
        assert user_error(text) == err("invalid number", 1, len(text))

    @pytest.mark.parametrize("number", CUT_OFF_NUMBERS)
    @pytest.mark.parametrize("before", ['{"id": ', '{"first_name": "x", "id":', "["])
    def test_in_a_decoded_field_is_the_end_of_a_value(self, before, number):
        text = before + number
        assert user_error(text) == err("EOF while parsing a value", 1, len(text))


# Many lines (two of them ending CRLF), escapes of every kind, non-ASCII text, numbers and
# literals, and unknown members nested in objects and arrays.
LONG_USER = r"""{
  "id": -1234567890123,
  "first_name": "Zoë \"Z\" O'Neil\\ \u2603 \ud83d\ude00 \/\b\f\n\r\t",
  "is_bot": false,
  "last_name": null,
  "layout": [[1.5e-3, -0.0, 2E+8, 0, true, null, "\u00e9"], {"deep": {"deeper": ["x", {}]}}],
  "username": "zoé",
  "allows_write_to_pm": true,
  "photo_url": "https:\/\/t.me\/i\/userpic\/320\/zoe.jpg"
}""".replace("\n", "\r\n", 2)


class TestRefusedAtEveryPrefix:
    """Every proper prefix of a long member is refused where it ends, whatever the decoder was
    in the middle of, with that position's line and column; the whole still decodes after
    all those refusals."""

    def test_each_prefix_fails_at_its_end(self):
        assert parse("user", LONG_USER).user.first_name.startswith("Zoë")
        for cut in range(len(LONG_USER)):
            taken = LONG_USER[:cut].encode()
            line, column = 1 + taken.count(b"\n"), len(taken) - (taken.rfind(b"\n") + 1)
            assert user_error(LONG_USER[:cut]).endswith(f", line: {line}, column: {column})"), cut
        assert parse("user", LONG_USER).user.id == -1234567890123
