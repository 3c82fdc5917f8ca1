"""Binding and conversion of the arguments of the three functions, with their exact messages."""

import hashlib
import hmac

import pytest

import norvik_auth
from helpers import sign

get_secret_key = norvik_auth.get_secret_key
parse_webapp_data = norvik_auth.parse_webapp_data
validate_webapp_data = norvik_auth.validate_webapp_data


@pytest.fixture(scope="module")
def init_data():
    return parse_webapp_data("hash=00")


def type_error(call, *args, **kwargs) -> TypeError:
    with pytest.raises(TypeError) as caught:
        call(*args, **kwargs)
    assert type(caught.value) is TypeError
    assert caught.value.__cause__ is None
    return caught.value


class TestBinding:
    @pytest.mark.parametrize(
        "call, args, kwargs, message",
        [
            (get_secret_key, (), {}, "get_secret_key() missing 1 required positional argument: 'bot_token'"),
            (parse_webapp_data, (), {}, "parse_webapp_data() missing 1 required positional argument: 'webapp_data'"),
            (validate_webapp_data, (), {},
             "validate_webapp_data() missing 2 required positional arguments: 'webapp_data' and 'secret_key'"),
            (validate_webapp_data, (), {"secret_key": []},
             "validate_webapp_data() missing 1 required positional argument: 'webapp_data'"),
            (validate_webapp_data, (1,), {},
             "validate_webapp_data() missing 1 required positional argument: 'secret_key'"),
            (validate_webapp_data, (1,), {"webapp_data": 2},
             "validate_webapp_data() got multiple values for argument 'webapp_data'"),
            (parse_webapp_data, ("a", "b"), {"webapp_data": "c"},
             "parse_webapp_data() takes 1 positional arguments but 2 were given"),
            (get_secret_key, ("a", "b"), {}, "get_secret_key() takes 1 positional arguments but 2 were given"),
            (validate_webapp_data, (1, 2, 3), {},
             "validate_webapp_data() takes 2 positional arguments but 3 were given"),
            (parse_webapp_data, (), {"query": "x"}, "parse_webapp_data() got an unexpected keyword argument 'query'"),
            (validate_webapp_data, (1,), {"secret": 2, "webapp_data": 3},
             "validate_webapp_data() got an unexpected keyword argument 'secret'"),
            (get_secret_key, (), {"bot_token": "a", "BOT_TOKEN": "b"},
             "get_secret_key() got an unexpected keyword argument 'BOT_TOKEN'"),
            (get_secret_key, (), {"\udcff": "a"}, "get_secret_key() got an unexpected keyword argument '\udcff'"),
        ],
        ids=[
            "get_secret_key-none", "parse-none", "validate-none", "validate-only-key-keyword",
            "validate-only-first", "validate-doubled", "parse-two-positional-and-keyword",
            "get_secret_key-two", "validate-three", "parse-unknown-keyword", "validate-first-bad-keyword-wins",
            "keyword-case-matters", "keyword-without-utf8",
        ],
    )
    def test_message(self, call, args, kwargs, message):
        assert str(type_error(call, *args, **kwargs)) == message

    def test_binding_errors_come_before_conversion(self):
        # Both arguments have the wrong kind, but the surplus one is reported first.
        assert "takes 2 positional arguments" in str(type_error(validate_webapp_data, "x", "y", "z"))


class TestKeywordPassing:
    def test_every_parameter_by_keyword_in_either_order(self):
        token = "123:abc"
        init_data = parse_webapp_data(webapp_data=sign([("auth_date", "1")], token))
        key = get_secret_key(bot_token=token)
        assert validate_webapp_data(webapp_data=init_data, secret_key=key) is True
        assert validate_webapp_data(secret_key=key, webapp_data=init_data) is True
        assert validate_webapp_data(init_data, secret_key=key) is True


class TestStrConversion:
    @pytest.mark.parametrize("value, type_name", [(1, "int"), (b"t", "bytes"), (None, "NoneType"),
                                                  (["t"], "list")], ids=["int", "bytes", "None", "list"])
    @pytest.mark.parametrize("call, parameter", [(get_secret_key, "bot_token"), (parse_webapp_data, "webapp_data")],
                             ids=["get_secret_key", "parse_webapp_data"])
    def test_wrong_kind(self, call, parameter, value, type_name):
        assert str(type_error(call, value)) == (
            f"argument '{parameter}': '{type_name}' object cannot be converted to 'PyString'"
        )

    def test_qualified_name_of_a_nested_class(self):
        class Outer:
            class Token:
                pass

        message = str(type_error(get_secret_key, Outer.Token()))
        assert message == ("argument 'bot_token': 'TestStrConversion.test_qualified_name_of_a_nested_class."
                           "<locals>.Outer.Token' object cannot be converted to 'PyString'")

    def test_unreadable_type_name(self):
        class Meta(type):
            def __getattribute__(cls, name):
                if name == "__qualname__":
                    raise RuntimeError("no name")
                return super().__getattribute__(name)

        class Odd(metaclass=Meta):
            pass

        assert str(type_error(get_secret_key, Odd())) == (
            "argument 'bot_token': '<failed to extract type name>' object cannot be converted to 'PyString'"
        )

    @pytest.mark.parametrize("call", [get_secret_key, parse_webapp_data], ids=["get_secret_key", "parse_webapp_data"])
    def test_lone_surrogate_gives_the_encoding_error_unprefixed(self, call):
        with pytest.raises(UnicodeEncodeError) as caught:
            call("a\ud800b")
        assert not str(caught.value).startswith("argument '")

    def test_str_subclass_is_taken_by_its_text(self):
        class Token(str):
            def encode(self, *args, **kwargs):  # never consulted: the text itself is used
                raise AssertionError

        assert get_secret_key(Token("abc")) == get_secret_key("abc")
        assert parse_webapp_data(Token("hash=z")).hash == "z"


class TestInitDataConversion:
    @pytest.mark.parametrize("value, type_name", [("hash=1", "str"), ({}, "dict"), (None, "NoneType")],
                             ids=["str", "dict", "None"])
    def test_wrong_kind(self, value, type_name):
        assert str(type_error(validate_webapp_data, value, [])) == (
            f"argument 'webapp_data': '{type_name}' object cannot be converted to 'WebAppInitData'"
        )

    def test_a_user_record_is_not_init_data(self):
        user = parse_webapp_data(sign([("user", '{"id": 1, "first_name": "A"}')], "t")).user
        assert str(type_error(validate_webapp_data, user, [])) == (
            "argument 'webapp_data': 'WebAppUser' object cannot be converted to 'WebAppInitData'"
        )

    def test_init_data_is_taken_before_the_key(self):
        assert str(type_error(validate_webapp_data, "x", "y")).startswith("argument 'webapp_data': ")


class BadIterable:
    """A sequence whose iteration fails with a chosen exception."""

    def __init__(self, error):
        self.error = error

    def __len__(self):
        return 1

    def __getitem__(self, index):
        raise self.error


class TypeErrorChild(TypeError):
    pass


class TestKeyConversion:
    @pytest.mark.parametrize("key", ["secret", type("Text", (str,), {})("secret")], ids=["str", "str-subclass"])
    def test_text_is_refused(self, init_data, key):
        assert str(type_error(validate_webapp_data, init_data, key)) == (
            "argument 'secret_key': Can't extract `str` to `Vec`"
        )

    @pytest.mark.parametrize("key, type_name", [(None, "NoneType"), (7, "int"), ({1: 2}, "dict"), ({1}, "set"),
                                                (iter([1]), "list_iterator"), ((b for b in [1]), "generator")],
                             ids=["None", "int", "dict", "set", "iterator", "generator"])
    def test_non_sequence(self, init_data, key, type_name):
        assert str(type_error(validate_webapp_data, init_data, key)) == (
            f"argument 'secret_key': '{type_name}' object cannot be converted to 'Sequence'"
        )

    @pytest.mark.parametrize("item", [256, -1, 1 << 40, -(1 << 40)], ids=["256", "-1", "2**40", "-2**40"])
    def test_byte_out_of_range_is_a_bare_overflow_error(self, init_data, item):
        with pytest.raises(OverflowError) as caught:
            validate_webapp_data(init_data, [1, item])
        assert type(caught.value) is OverflowError
        assert str(caught.value) == "out of range integral type conversion attempted"

    def test_beyond_c_long_is_the_interpreters_overflow_error(self, init_data):
        with pytest.raises(OverflowError) as caught:
            validate_webapp_data(init_data, [1 << 70])
        assert str(caught.value) == "Python int too large to convert to C long"

    @pytest.mark.parametrize("item, type_name", [(1.0, "float"), ("1", "str"), (None, "NoneType")],
                             ids=["float", "str", "None"])
    def test_item_that_is_no_integer(self, init_data, item, type_name):
        assert str(type_error(validate_webapp_data, init_data, [item])) == (
            f"argument 'secret_key': '{type_name}' object cannot be interpreted as an integer"
        )

    def test_iteration_type_error_is_prefixed_and_keeps_its_cause(self, init_data):
        inner = TypeError("bad item")
        inner.__cause__ = KeyError("root")
        with pytest.raises(TypeError) as caught:
            validate_webapp_data(init_data, BadIterable(inner))
        assert str(caught.value) == "argument 'secret_key': bad item"
        assert caught.value is not inner
        assert caught.value.__cause__ is inner.__cause__

    @pytest.mark.parametrize("error", [TypeErrorChild("child"), ValueError("value"), KeyError("key")],
                             ids=["TypeError-subclass", "ValueError", "KeyError"])
    def test_other_iteration_errors_pass_unchanged(self, init_data, error):
        with pytest.raises(type(error)) as caught:
            validate_webapp_data(init_data, BadIterable(error))
        assert caught.value is error

    @pytest.mark.parametrize("length", [RuntimeError("no length"), 1 << 60, 0],
                             ids=["failing", "huge", "too-small"])
    def test_length_is_only_a_hint(self, length):
        # Signed over the empty data-check string with the two-byte key 01 02.
        init_data = parse_webapp_data("hash=" + hmac.new(b"\x01\x02", b"", hashlib.sha256).hexdigest())

        class Key(list):
            def __len__(self):
                if isinstance(length, BaseException):
                    raise length
                return length

        assert validate_webapp_data(init_data, Key([1, 2])) is True


class KeySequence:
    """A sequence that is neither a list nor a tuple: its items are read one by one."""

    def __init__(self, items):
        self.items = list(items)

    def __len__(self):
        return len(self.items)

    def __getitem__(self, index):
        return self.items[index]


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


RANGE_KEY = bytes(range(100, 132))
# One shape of key per way the items are read: exact lists and tuples in one pass, mixed items
# (an int subclass and an __index__ object among exact ints) and other sequences one by one.
KEY_SHAPES = {
    "list": list,
    "tuple": tuple,
    "mixed-list": lambda items: [Index(v) if i == 7 else (type("Byte", (int,), {})(v) if i == 20 else v)
                                 for i, v in enumerate(items)],
    "mixed-tuple": lambda items: tuple(Index(v) if i == 9 else v for i, v in enumerate(items)),
    "sequence": KeySequence,
}


@pytest.fixture(scope="module")
def signed():
    return parse_webapp_data("a=1&hash=" + hmac.new(RANGE_KEY, b"a=1", hashlib.sha256).hexdigest())


class TestKeyRangeAtEveryPosition:
    @pytest.mark.parametrize("shape", [*KEY_SHAPES, "bytes", "bytearray"])
    def test_the_key_in_range_validates(self, signed, shape):
        # Bytes cannot hold an item out of range; they are the control for the shapes below.
        make = {"bytes": bytes, "bytearray": bytearray, **KEY_SHAPES}[shape]
        assert validate_webapp_data(signed, make(RANGE_KEY)) is True

    @pytest.mark.parametrize("shape", KEY_SHAPES)
    @pytest.mark.parametrize("position", [0, 1, 16, 30, 31], ids=["first", "second", "middle", "next-to-last", "last"])
    @pytest.mark.parametrize("item", [256, -1, 1 << 40, -(1 << 40), 1 << 70], ids=["256", "-1", "2**40", "-2**40", "2**70"])
    def test_an_item_out_of_range_anywhere_overflows(self, signed, shape, position, item):
        items = list(RANGE_KEY)
        items[position] = item
        with pytest.raises(OverflowError) as caught:
            validate_webapp_data(signed, KEY_SHAPES[shape](items))
        assert type(caught.value) is OverflowError
