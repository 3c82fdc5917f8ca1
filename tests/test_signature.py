"""HMAC-SHA-256, secret-key derivation and validation of parsed init data."""

import hashlib
import hmac
import json
import random
import string
from pathlib import Path
from urllib.parse import quote, urlencode

import pytest

import norvik_auth
from helpers import secret_key, sign, signature

DATA = Path(__file__).parent / "data" / "hmac"
TOKEN = "1234567890:AAE_test-token"


def as_query_message(message: bytes):
    """The (name, value) pairs whose data-check string is `message`, or None if there are none."""
    if not message:
        return []
    try:
        lines = message.decode().split("\n")
    except UnicodeDecodeError:
        return None
    if any("=" not in line for line in lines) or lines != sorted(lines, key=str.encode):
        return None
    pairs = [tuple(line.split("=", 1)) for line in lines]
    names = [name for name, _ in pairs]
    if len(set(names)) != len(names) or "hash" in names or not all(value for _, value in pairs):
        return None
    return pairs


def known_answers():
    """Published vectors whose message a data-check string can carry."""
    wycheproof = json.loads((DATA / "hmac_sha256_test.json").read_text())
    for group in wycheproof["testGroups"]:
        for test in group["tests"]:
            yield (f"wycheproof-{test['tcId']}", bytes.fromhex(test["key"]), bytes.fromhex(test["msg"]),
                   test["tag"], test["result"] == "valid" and len(test["tag"]) == 64)
    nist = json.loads((DATA / "nist_hmac_sha256_examples.json").read_text())
    for number, vector in enumerate(nist["vectors"], 1):
        yield (f"nist-{number}", bytes.fromhex(vector["key"]), vector["data_text"].encode(),
               vector["hmac_sha256"], True)


USABLE_ANSWERS = [pytest.param(key, pairs, tag, expected, id=name)
                  for name, key, message, tag, expected in known_answers()
                  if (pairs := as_query_message(message)) is not None]


def query_of(pairs, hash_value: str) -> str:
    return urlencode(list(pairs) + [("hash", hash_value)], quote_via=quote)


class TestKnownAnswers:
    def test_enough_vectors_are_usable(self):
        assert len(USABLE_ANSWERS) >= 60

    @pytest.mark.parametrize("key, pairs, tag, expected", USABLE_ANSWERS)
    def test_published_vector(self, key, pairs, tag, expected):
        init_data = norvik_auth.parse_webapp_data(query_of(pairs, tag))
        assert norvik_auth.validate_webapp_data(init_data, key) is expected


class TestGetSecretKey:
    @pytest.mark.parametrize("token", ["", TOKEN, "é", "bot-токен-🤖", "x" * 10_000, "a\x00b"],
                             ids=["empty", "ascii", "two-byte-char", "non-ascii", "long", "nul"])
    def test_matches_hmac_of_the_token(self, token):
        key = norvik_auth.get_secret_key(token)
        assert type(key) is list and all(type(byte) is int for byte in key)
        assert key == list(secret_key(token))

    def test_each_call_returns_a_new_list(self):
        first, second = norvik_auth.get_secret_key(TOKEN), norvik_auth.get_secret_key(TOKEN)
        assert first == second and first is not second


class TestRoundTrip:
    PAIRS = [
        ("query_id", "AAHdF6IQAAAAAN0XohDhrOrc"),
        ("user", json.dumps({"id": 279058397, "first_name": "Vlad", "language_code": "ru", "is_premium": True})),
        ("auth_date", "1662771648"),
        ("start_param", "ref=42&x"),
    ]

    @pytest.fixture
    def init_data(self):
        return norvik_auth.parse_webapp_data(sign(self.PAIRS, TOKEN))

    @pytest.mark.parametrize("as_key", [list, bytes, bytearray, tuple], ids=["list", "bytes", "bytearray", "tuple"])
    def test_signed_data_validates_with_every_key_form(self, init_data, as_key):
        key = as_key(norvik_auth.get_secret_key(TOKEN))
        assert norvik_auth.validate_webapp_data(init_data, key) is True

    def test_key_of_another_bot(self, init_data):
        assert norvik_auth.validate_webapp_data(init_data, norvik_auth.get_secret_key(TOKEN + "x")) is False

    def test_tampered_value(self):
        query = sign(self.PAIRS, TOKEN).replace("1662771648", "1662771649")
        init_data = norvik_auth.parse_webapp_data(query)
        assert norvik_auth.validate_webapp_data(init_data, norvik_auth.get_secret_key(TOKEN)) is False

    def test_repeated_validation_changes_nothing(self, init_data):
        key = norvik_auth.get_secret_key(TOKEN)
        before = repr(init_data)
        assert [norvik_auth.validate_webapp_data(init_data, key) for _ in range(3)] == [True] * 3
        assert repr(init_data) == before and init_data.user.id == 279058397


class TestHashComparison:
    """The computed signature against `hash`: exact, lowercase, all 64 characters."""

    KEY = bytes(range(32))

    def verdict(self, hash_value: str) -> bool:
        init_data = norvik_auth.parse_webapp_data(query_of([("auth_date", "1")], hash_value))
        return norvik_auth.validate_webapp_data(init_data, self.KEY)

    def correct(self) -> str:
        return signature([("auth_date", "1")], self.KEY)

    def test_correct(self):
        assert self.verdict(self.correct()) is True

    @pytest.mark.parametrize(
        "change",
        [str.upper, lambda h: " " + h, lambda h: h + " ", lambda h: h[:-1], lambda h: h + "0", lambda h: "",
         lambda h: h[:32], lambda h: h[:-1] + ("0" if h[-1] != "0" else "1"),
         lambda h: ("0" if h[0] != "0" else "1") + h[1:]],
        ids=["uppercase", "leading-space", "trailing-space", "63-chars", "65-chars", "empty", "truncated-tag",
             "last-char-differs", "first-char-differs"],
    )
    def test_any_difference_is_a_mismatch(self, change):
        assert self.verdict(change(self.correct())) is False

    def test_every_character_counts(self):
        # The digits are compared in blocks: a change anywhere must show, in either case.
        correct = self.correct()
        for at, digit in enumerate(correct):
            for other in {"0" if digit != "0" else "f", digit.upper()} - {digit}:
                assert self.verdict(correct[:at] + other + correct[at + 1:]) is False, (at, other)


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class TestKeys:
    @pytest.mark.parametrize("size", [0, 1, 32, 63, 64, 65, 200], ids=lambda n: f"{n}-bytes")
    def test_key_length(self, size):
        key = bytes((7 * i + 3) % 256 for i in range(size))
        pairs = [("auth_date", "1"), ("chat_type", "sender")]
        init_data = norvik_auth.parse_webapp_data(query_of(pairs, signature(pairs, key)))
        assert norvik_auth.validate_webapp_data(init_data, key) is True
        # Near misses answer as the standard library does (HMAC pads short keys with zeros).
        for variant in (key + b"\x00", key + b"\x01", key[:-1]):
            expected = signature(pairs, variant) == signature(pairs, key)
            assert norvik_auth.validate_webapp_data(init_data, variant) is expected

    @pytest.mark.parametrize("as_key", [list, tuple, bytes, bytearray, lambda k: range(k[0], k[0] + len(k))],
                             ids=["list", "tuple", "bytes", "bytearray", "range"])
    def test_every_sequence_form_gives_the_same_answer(self, as_key):
        key = bytes(range(10, 20))
        init_data = norvik_auth.parse_webapp_data("hash=" + hmac.new(key, b"", hashlib.sha256).hexdigest())
        assert norvik_auth.validate_webapp_data(init_data, as_key(key)) is True

    def test_booleans_and_index_objects_are_bytes(self):
        init_data = norvik_auth.parse_webapp_data("hash=" + hmac.new(b"\x01\x00\x05", b"", hashlib.sha256).hexdigest())
        assert norvik_auth.validate_webapp_data(init_data, [True, False, Index(5)]) is True

    @pytest.mark.parametrize("size", [3, 64, 65, 200], ids=lambda n: f"{n}-bytes")
    @pytest.mark.parametrize("odd_one", ["first", "last"])
    def test_ints_mixed_with_other_items(self, size, odd_one):
        # Exact ints are read in place until an item of another kind turns up; the key must
        # come out the same, however long, wherever that item is.
        key = bytes((5 * i + 1) % 256 for i in range(size))
        init_data = norvik_auth.parse_webapp_data("hash=" + hmac.new(key, b"", hashlib.sha256).hexdigest())
        items: list = list(key)
        at = 0 if odd_one == "first" else -1
        items[at] = Index(items[at])
        assert norvik_auth.validate_webapp_data(init_data, items) is True
        items[at] = Index(items[at].value ^ 1)
        assert norvik_auth.validate_webapp_data(init_data, items) is False


class TestMessage:
    def test_empty_data_check_string_is_signed_as_the_empty_message(self):
        key = norvik_auth.get_secret_key(TOKEN)
        # Empty values are left out of the data-check string, so it is empty here.
        query = "query_id=&hash=" + hmac.new(bytes(key), b"", hashlib.sha256).hexdigest()
        assert norvik_auth.validate_webapp_data(norvik_auth.parse_webapp_data(query), key) is True

    def test_replacement_characters_are_signed_as_decoded(self):
        key = b"k"
        message = "start_param=a\ufffdb".encode()
        query = "start_param=a%FFb&hash=" + hmac.new(key, message, hashlib.sha256).hexdigest()
        assert norvik_auth.validate_webapp_data(norvik_auth.parse_webapp_data(query), key) is True


class TestAgainstTheStandardLibrary:
    """The module's HMAC-SHA-256 against hmac and hashlib, on random keys of 0 to 200 bytes (a
    key past 64 bytes is hashed first) and messages of every length over the first blocks, so
    that the padding falls at every position of the last block, one block more included."""

    ALPHABET = string.ascii_letters + string.digits + " =&+%/:;,.-_~éß€🤖"

    @staticmethod
    def random_key(rng: random.Random) -> bytes:
        return bytes(rng.getrandbits(8) for _ in range(rng.randrange(201)))

    def check(self, pairs, key: bytes) -> None:
        query = query_of(pairs, signature(pairs, key))
        init_data = norvik_auth.parse_webapp_data(query)
        assert norvik_auth.validate_webapp_data(init_data, key) is True, (pairs, key)
        wrong = bytes([key[0] ^ 1]) + key[1:] if key else b"\x01"  # b"\x00" pads to the same
        assert norvik_auth.validate_webapp_data(init_data, wrong) is False, (pairs, key)

    def test_every_message_length(self):
        rng = random.Random(2104)
        for size in range(300):
            # "v=" and size - 2 characters: a data-check string of `size` bytes (empty at 0).
            value = "".join(rng.choice(string.ascii_letters) for _ in range(max(size - 2, 0)))
            self.check([("v", value if size >= 2 else "")], self.random_key(rng))

    def test_random_pairs(self):
        rng = random.Random(180)
        for _ in range(300):
            names = rng.sample(["query_id", "start_param", "x", "chat_type", "chat_instance", "zz"],
                               rng.randrange(1, 6))
            pairs = [(name, "".join(rng.choice(self.ALPHABET) for _ in range(rng.randrange(1, 400))))
                     for name in names]
            self.check(pairs, self.random_key(rng))

    def test_secret_keys_of_random_tokens(self):
        rng = random.Random(4231)
        for size in range(200):
            token = "".join(rng.choice(self.ALPHABET) for _ in range(size))
            assert norvik_auth.get_secret_key(token) == list(secret_key(token)), token
