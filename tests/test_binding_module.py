"""norvik_binding: the class the native module raises, importable, so that it pickles by name and
crosses process boundaries."""

import multiprocessing
import pickle
from concurrent.futures import ProcessPoolExecutor

import pytest

import norvik_auth
from helpers import panic_of
from norvik_binding import PanicException

pytestmark = pytest.mark.python_only

# Parsing fails on this and names the member that failed.
MALFORMED = "user=%7B&hash=00"


def test_it_is_the_raised_class(panic_exception):
    assert PanicException is panic_exception
    assert PanicException.__module__ == "norvik_binding"
    assert issubclass(PanicException, BaseException) and not issubclass(PanicException, Exception)
    # The native module's surface stays as it is.
    assert not hasattr(norvik_auth, "PanicException")
    assert len(norvik_auth.__all__) == 6


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
@pytest.mark.parametrize("data", ["", MALFORMED, "auth_date=-1&hash="])
def test_pickle_round_trip(protocol, data):
    error = panic_of(norvik_auth.parse_webapp_data, data)
    copy = pickle.loads(pickle.dumps(error, protocol))
    assert type(copy) is PanicException
    assert copy.args == error.args and str(copy) == str(error)


@pytest.mark.parametrize("method", ["fork", "spawn"])
def test_process_pool_hands_back_the_error(method):
    if method not in multiprocessing.get_all_start_methods():
        pytest.skip(f"no {method} start method here")
    expected = str(panic_of(norvik_auth.parse_webapp_data, MALFORMED))
    context = multiprocessing.get_context(method)
    # The worker only runs the native function: pickling its error needs no import of ours.
    with ProcessPoolExecutor(max_workers=1, mp_context=context) as pool:
        future = pool.submit(norvik_auth.parse_webapp_data, MALFORMED)
        with pytest.raises(PanicException) as caught:
            future.result(timeout=120)
    assert str(caught.value) == expected
    assert expected.startswith("Unable to parse user")
