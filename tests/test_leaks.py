"""Many calls, successful and failing, leave memory and reference counts where they were."""

import gc
import operator
import os
import sys
from functools import partial

import pytest

import norvik_auth
from helpers import panic_of, sign

TOKEN = "42:leak-check"
# A leaked malloc chunk is at least 32 bytes, so this many calls grow by well over the allowance;
# valgrind runs lower the count, since one leaking call is enough for it to see.
CALLS = int(os.environ.get("LEAK_CHECK_CALLS", "20000"))
ALLOWED_GROWTH = 512 << 10  # bytes of resident memory
ALLOWED_BLOCKS = 64  # interpreter allocator blocks: caches settle during the warm-up


def resident_bytes() -> int:
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


pytestmark = pytest.mark.skipif(not os.path.exists("/proc/self/statm"), reason="needs /proc to read RSS")

USER = ('{"id": 7, "is_bot": false, "first_name": "Ann", "last_name": "Lee", "username": "ann", '
        '"language_code": "en", "is_premium": true, "added_to_attachment_menu": false, '
        '"allows_write_to_pm": true, "photo_url": "https://example.org/a.jpg"}')
CHAT = '{"id": -1, "type_": "group", "title": "T\\u0301\\n", "username": "g", "photo_url": "p"}'
FULL_QUERY = sign([("query_id", "Q"), ("user", USER), ("receiver", USER), ("chat", CHAT),
                   ("chat_type", "group"), ("chat_instance", "-5"), ("start_param", "s"),
                   ("can_send_after", "10"), ("auth_date", "1700000000")], TOKEN)
INIT_DATA = norvik_auth.parse_webapp_data(FULL_QUERY)
SPARSE = norvik_auth.parse_webapp_data(sign([("user", '{"id": 1, "first_name": ""}'),
                                             ("chat", '[1, "private", "", null, null]')], TOKEN))
KEY = norvik_auth.get_secret_key(TOKEN)
PANIC = type(panic_of(norvik_auth.parse_webapp_data, ""))

INIT_DATA_FIELDS = ("query_id", "user", "receiver", "chat", "chat_type", "chat_instance", "start_param",
                    "can_send_after", "auth_date", "hash")
USER_FIELDS = ("id", "is_bot", "first_name", "last_name", "username", "language_code", "is_premium",
               "added_to_attachment_menu", "allows_write_to_pm", "photo_url")
CHAT_FIELDS = ("id", "type", "title", "username", "photo_url")


def swallow(call, *args, **kwargs):
    try:
        call(*args, **kwargs)
    except BaseException:  # noqa: BLE001 - PanicException derives from BaseException
        pass


def read_everything(init_data):
    """Every attribute of the three classes and the repr of each, nested records read anew."""
    values = operator.attrgetter(*INIT_DATA_FIELDS)(init_data)
    for record, fields in ((init_data.user, USER_FIELDS), (init_data.receiver, USER_FIELDS),
                           (init_data.chat, CHAT_FIELDS)):
        if record is not None:
            values += operator.attrgetter(*fields)(record) + (repr(record),)
    return values + (repr(init_data),)


def assign_attribute(record):
    record.id = 1


class FailingIterable(list):
    """A key whose iteration fails, as a caller's own sequence type may; a new error each time,
    since raising one error again would grow its traceback."""

    def __init__(self, make_error):
        super().__init__()
        self.make_error = make_error

    def __iter__(self):
        raise self.make_error()


def chained_type_error():
    error = TypeError("bad item")
    error.__cause__ = KeyError("root")
    return error


parse = norvik_auth.parse_webapp_data
validate = norvik_auth.validate_webapp_data
secret = norvik_auth.get_secret_key

SUCCEEDING = {
    "get_secret_key": (secret, TOKEN),
    "get_secret_key-keyword": (partial(secret, bot_token=TOKEN),),
    "parse-full": (parse, FULL_QUERY),
    "parse-by-keyword": (partial(parse, webapp_data="hash=h&x=%FF&y=a+b"),),
    "validate": (validate, INIT_DATA, KEY),
    "validate-tuple-key": (validate, INIT_DATA, tuple(KEY)),
    "validate-bytes-key-mismatch": (validate, INIT_DATA, b"\x01" * 40),
    "read-every-attribute": (read_everything, INIT_DATA),
    "read-absent-fields": (read_everything, SPARSE),
}

NOT_TEXT = object()

FAILING = {
    # binding
    "missing-argument": (TypeError, validate, INIT_DATA),
    "surplus-argument": (TypeError, secret, TOKEN, TOKEN),
    "unknown-keyword": (TypeError, partial(parse, "hash=h", extra=1),),
    "given-twice": (TypeError, partial(secret, TOKEN, bot_token=TOKEN),),
    # conversion
    # arguments whose reference counts only this module touches (a small int or an
    # identifier-like string is shared by the whole interpreter, and its count drifts)
    "token-not-str": (TypeError, secret, NOT_TEXT),
    "data-not-str": (TypeError, parse, b"hash=h"),
    "record-of-wrong-class": (TypeError, validate, INIT_DATA.user, KEY),
    "key-is-str": (TypeError, validate, INIT_DATA, "not a key"),
    "key-not-sequence": (TypeError, validate, INIT_DATA, None),
    "key-item-not-int": (TypeError, validate, INIT_DATA, [1, 2.0]),
    "key-item-over-255": (OverflowError, validate, INIT_DATA, [300]),
    "key-item-negative": (OverflowError, validate, INIT_DATA, [1, -1]),
    "key-item-beyond-c-long": (OverflowError, validate, INIT_DATA, [1 << 70]),
    "key-iteration-type-error": (TypeError, validate, INIT_DATA, FailingIterable(chained_type_error)),
    "key-iteration-value-error": (ValueError, validate, INIT_DATA, FailingIterable(partial(ValueError, "v"))),
    "token-lone-surrogate": (UnicodeEncodeError, secret, "\ud800"),
    "data-lone-surrogate": (UnicodeEncodeError, parse, "hash=\udfff"),
    # the logic's panics, one of each kind
    "panic-user-json": (PANIC, parse, "user=%7B&hash=1"),
    "panic-user-wrong-type": (PANIC, parse, 'user={"id":1,"first_name":"' + "\u00e9\\n" * 50 + '","is_bot":"x"}&hash=1'),
    "panic-receiver-missing-field": (PANIC, parse, "receiver={}&hash=1"),
    "panic-chat-duplicate": (PANIC, parse, 'chat={"id":1,"id":2}&hash=1'),
    "panic-auth-date": (PANIC, parse, "auth_date=-1&hash=1"),
    "panic-can-send-after": (PANIC, parse, "can_send_after=99999999999999999999&hash=1"),
    "panic-hash-required": (PANIC, parse, "user=" + USER),
    # the classes themselves
    "constructor": (TypeError, norvik_auth.WebAppInitData, "hash=h"),
    "assign-attribute": (AttributeError, assign_attribute, INIT_DATA.chat),
}

CASES = {**SUCCEEDING, **{name: (swallow, *case) for name, (_, *case) in FAILING.items()}}


@pytest.mark.parametrize("case", CASES.values(), ids=list(CASES))
def test_memory_and_references_stay_flat(case):
    call, *args = case
    # None's count moves with everything else the interpreter does, so it shows nothing here.
    watched = [*(arg for arg in args if arg is not None), type(INIT_DATA), norvik_auth.WebAppUser,
               norvik_auth.WebAppChat, PANIC]
    for _ in range(CALLS // 10):  # warm up caches and the allocator
        call(*args)
    gc.collect()
    references = [sys.getrefcount(obj) for obj in watched]
    # A leak grows memory and the interpreter's block count in every round (by at least one
    # block per call); an allocator taking a new region, or a cache filling, does so once.
    growth = []
    block_growth = []
    for _ in range(2):
        before = resident_bytes()
        blocks = sys.getallocatedblocks()
        for _ in range(CALLS // 2):
            call(*args)
        gc.collect()
        growth.append(resident_bytes() - before)
        block_growth.append(sys.getallocatedblocks() - blocks)
    assert min(growth) < ALLOWED_GROWTH // 2
    assert min(block_growth) < ALLOWED_BLOCKS
    assert [sys.getrefcount(obj) for obj in watched] == references


@pytest.mark.parametrize("case", FAILING.values(), ids=list(FAILING))
def test_each_failing_case_takes_its_error_path(case):
    """A case that stopped failing, or failed another way, would no longer test its path."""
    expected, call, *args = case
    with pytest.raises(BaseException) as caught:
        call(*args)
    assert type(caught.value) is expected


def test_large_input_is_released():
    big = sign([("start_param", "x" * 1_000_000)], TOKEN)
    norvik_auth.parse_webapp_data(big)
    before = resident_bytes()
    for _ in range(max(CALLS // 200, 2)):
        init_data = norvik_auth.parse_webapp_data(big)
        assert norvik_auth.validate_webapp_data(init_data, KEY) is True
        del init_data
    assert resident_bytes() - before < 2 * ALLOWED_GROWTH
