"""Coverage-guided fuzzing of the module through Python: every string gives a record or a panic.

Run under atheris with the module built with -fsanitize=fuzzer-no-link and the sanitizer and
fuzzer runtimes preloaded (see mk/hardening.mk); any other exception or a crash stops the run.
"""

import hashlib
import hmac
import re
import sys
from urllib.parse import parse_qsl

import atheris

import norvik_auth

try:
    norvik_auth.parse_webapp_data("")
except BaseException as error:  # noqa: BLE001 - the panic class is reachable only this way
    PanicException = type(error)
assert PanicException.__name__ == "PanicException" and not issubclass(PanicException, Exception)

U64_MAX = (1 << 64) - 1
I64 = range(-(1 << 63), 1 << 63)
TEXT_FIELDS = ("query_id", "chat_type", "chat_instance", "start_param", "hash")
INTEGER_FIELDS = ("auth_date", "can_send_after")
PANIC_SHAPE = re.compile(
    r"Hash is required"
    r"|Unable to parse (user|receiver|chat): Error\(\".*\", line: [1-9][0-9]*, column: [0-9]+\)"
    r"|Unable to parse (auth_date|can_send_after): ParseIntError \{ kind: (Empty|InvalidDigit|PosOverflow) \}",
    re.DOTALL)
USER_ATTRIBUTES = {"id": int, "is_bot": bool, "first_name": str, "last_name": str, "username": str,
                   "language_code": str, "is_premium": bool, "added_to_attachment_menu": bool,
                   "allows_write_to_pm": bool, "photo_url": str}
CHAT_ATTRIBUTES = {"id": int, "type": str, "title": str, "username": str, "photo_url": str}
REQUIRED = {"id", "first_name", "type", "title"}


def last_values(text: str) -> dict:
    """The standard library's form decoder; a later pair of a name replaces the earlier one."""
    return dict(parse_qsl(text, keep_blank_values=True, max_num_fields=None))


def data_check_string(fields: dict) -> bytes:
    lines = [f"{name}={value}".encode() for name, value in fields.items() if name != "hash" and value]
    return b"\n".join(sorted(lines))


def check_record(record, attributes: dict) -> None:
    for name, kind in attributes.items():
        value = getattr(record, name)
        assert type(value) is kind or (value is None and name not in REQUIRED), (name, value)
        if name == "id":
            assert value in I64, value
    assert repr(record) == repr(record) and isinstance(repr(record), str)


def check_init_data(text: str, init_data) -> None:
    fields = last_values(text)
    assert type(init_data).__name__ == "WebAppInitData"
    for name in TEXT_FIELDS:
        assert getattr(init_data, name) == fields.get(name), name
    for name in INTEGER_FIELDS:
        value = getattr(init_data, name)
        assert (value is None) == (name not in fields), name
        if value is not None:
            digits = fields[name].removeprefix("+").lstrip("0") or "0"  # int() caps long texts
            assert 0 <= value <= U64_MAX and int(digits) == value, name
    for name, attributes in (("user", USER_ATTRIBUTES), ("receiver", USER_ATTRIBUTES),
                             ("chat", CHAT_ATTRIBUTES)):
        record = getattr(init_data, name)
        assert (record is None) == (name not in fields), name
        if record is not None:
            check_record(record, attributes)
    assert repr(init_data) == repr(init_data)

    # Re-signing with the standard library's data-check string must make the record validate.
    key = bytes(norvik_auth.get_secret_key(text))
    assert key == hmac.new(b"SignedView", text.encode(), hashlib.sha256).digest()
    expected = hmac.new(key, data_check_string(fields), hashlib.sha256).hexdigest()
    # Lines that could be read as other pairs are never accepted, whatever the signature.
    unambiguous = all("=" not in name and "\n" not in name + value
                      for name, value in fields.items() if name != "hash" and value)
    assert norvik_auth.validate_webapp_data(init_data, list(key)) is (
        unambiguous and init_data.hash == expected)
    resigned = norvik_auth.parse_webapp_data(text + "&hash=" + expected)
    assert norvik_auth.validate_webapp_data(resigned, key) is unambiguous
    # HMAC pads short keys with zeros, so a changed key byte, not a shortened key, must fail.
    assert norvik_auth.validate_webapp_data(resigned, bytes([key[0] ^ 1]) + key[1:]) is False


def check_panic(text: str, panic: BaseException) -> None:
    (message,) = panic.args
    assert PANIC_SHAPE.fullmatch(message), message
    fields = last_values(text)
    failed = "hash" if message == "Hash is required" else message.split(":")[0].split()[-1]
    assert (failed in fields) != (failed == "hash"), message
    # A member converted before the one that failed was fine: adding a hash changes nothing.
    if failed != "hash":
        try:
            norvik_auth.parse_webapp_data(text + "&hash=")
        except PanicException as again:
            assert again.args == (message,), (message, again.args)
        else:
            raise AssertionError("adding a hash made a failing input parse")


def test_one_input(data: bytes) -> None:
    text = data.decode("utf-8", "replace")
    try:
        init_data = norvik_auth.parse_webapp_data(text)
    except PanicException as panic:
        check_panic(text, panic)
    else:
        check_init_data(text, init_data)

    # A str without a UTF-8 form is refused by conversion, before any decoding.
    escaped = data.decode("utf-8", "surrogateescape")
    if escaped != text:
        try:
            norvik_auth.parse_webapp_data(escaped)
        except UnicodeEncodeError:
            pass
        else:
            raise AssertionError("a string with lone surrogates was accepted")


def main() -> None:
    atheris.Setup(sys.argv, test_one_input)
    atheris.Fuzz()


if __name__ == "__main__":
    main()
