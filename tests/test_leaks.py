"""Many calls, successful and failing, leave memory and reference counts where they were."""

import gc
import os
import sys

import pytest

import norvik_auth
from conftest import sign

TOKEN = "42:leak-check"
CALLS = 200_000
FAILING_CALLS = 100_000  # raising costs more; a leak of even 16 bytes per call still shows
ALLOWED_GROWTH = 1 << 20  # bytes


def resident_bytes() -> int:
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


pytestmark = pytest.mark.skipif(not os.path.exists("/proc/self/statm"), reason="needs /proc to read RSS")

INIT_DATA = norvik_auth.parse_webapp_data(
    sign([("user", '{"id": 7, "first_name": "Ann", "username": "ann"}'),
          ("chat", '{"id": -1, "type_": "group", "title": "T"}'), ("auth_date", "1700000000")], TOKEN))
KEY = norvik_auth.get_secret_key(TOKEN)


def swallow(call, *args):
    try:
        call(*args)
    except BaseException:  # noqa: BLE001 - PanicException derives from BaseException
        pass


def read_everything(init_data):
    return (repr(init_data), init_data.user.first_name, init_data.chat.type, init_data.auth_date)


CASES = {
    "get_secret_key": (CALLS, norvik_auth.get_secret_key, TOKEN),
    "validate": (CALLS, norvik_auth.validate_webapp_data, INIT_DATA, KEY),
    "validate-tuple-key": (CALLS, norvik_auth.validate_webapp_data, INIT_DATA, tuple(KEY)),
    "read-attributes": (CALLS // 4, read_everything, INIT_DATA),
    "bad-token-type": (FAILING_CALLS, swallow, norvik_auth.get_secret_key, 1),
    "missing-argument": (FAILING_CALLS, swallow, norvik_auth.validate_webapp_data, INIT_DATA),
    "panic": (FAILING_CALLS, swallow, norvik_auth.parse_webapp_data, "user=%7B&hash=1"),
    "bad-key-item": (FAILING_CALLS, swallow, norvik_auth.validate_webapp_data, INIT_DATA, [1, 2.0]),
    "key-out-of-range": (FAILING_CALLS, swallow, norvik_auth.validate_webapp_data, INIT_DATA, [300]),
}


@pytest.mark.parametrize("case", CASES.values(), ids=list(CASES))
def test_memory_and_references_stay_flat(case):
    calls, call, *args = case
    watched = [*args, type(INIT_DATA), norvik_auth.WebAppUser, norvik_auth.WebAppChat]
    for _ in range(calls // 20):  # warm up caches and the allocator
        call(*args)
    gc.collect()
    references = [sys.getrefcount(obj) for obj in watched]
    before = resident_bytes()
    for _ in range(calls):
        call(*args)
    gc.collect()
    assert resident_bytes() - before < ALLOWED_GROWTH
    assert [sys.getrefcount(obj) for obj in watched] == references


def test_large_input_is_released():
    big = sign([("start_param", "x" * 1_000_000)], TOKEN)
    norvik_auth.parse_webapp_data(big)
    before = resident_bytes()
    for _ in range(200):
        init_data = norvik_auth.parse_webapp_data(big)
        assert norvik_auth.validate_webapp_data(init_data, KEY) is True
        del init_data
    assert resident_bytes() - before < ALLOWED_GROWTH
