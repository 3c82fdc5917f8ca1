"""Verifier and InitDataError: parse, check the signature, the age and the user, in one call."""

# pyright: strict
from __future__ import annotations

import math
import time
from collections.abc import Callable
from typing import Any, Literal, Optional, Union

import norvik_auth
from norvik_auth import WebAppInitData
from norvik_binding import PanicException

from ._keys import KeyLike, key_bytes

# Written as a Union of single Literals, which is the same type to a checker and, unlike one
# Literal of six values, a Union at run time too, as stubtest expects of the alias.
Reason = Union[Literal["malformed"], Literal["signature"], Literal["no_auth_date"],
               Literal["expired"], Literal["future"], Literal["no_user"]]

# Fixed texts, the only thing str(error) ever holds: nothing from the request is echoed back.
_MESSAGES: dict[str, str] = {
    "malformed": "init data is malformed",
    "signature": "init data has an invalid signature",
    "no_auth_date": "init data has no auth_date",
    "expired": "init data has expired",
    "future": "init data is dated in the future",
    "no_user": "init data has no user",
}

_parse = norvik_auth.parse_webapp_data
_validate = norvik_auth.validate_webapp_data


class InitDataError(ValueError):
    """Init data refused by Verifier.verify.

    ``str(error)`` is a short fixed text per reason, safe to send to a client. ``detail`` is for
    logs: the parser's message for "malformed", the times compared for "expired" and "future",
    otherwise empty.
    """

    reason: Reason
    detail: str

    def __init__(self, reason: Reason, detail: str = "") -> None:
        if reason not in _MESSAGES:
            raise ValueError(f"unknown reason {reason!r}")
        super().__init__(_MESSAGES[reason])
        self.reason = reason
        self.detail = detail

    def __reduce__(self) -> tuple[Any, ...]:
        # The default would call the class with the message alone; the reason must survive.
        return (type(self), (self.reason, self.detail))

    def __repr__(self) -> str:
        return f"InitDataError({self.reason!r}, detail={self.detail!r})"


def _seconds(name: str, value: object) -> float:
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        raise TypeError(f"{name} must be a number of seconds, not {type(value).__name__}")
    if math.isnan(value) or value < 0:
        raise ValueError(f"{name} must be zero or more seconds, not {value!r}")
    return value


class Verifier:
    """Checks init data for one bot. Made once; immutable, so one instance may serve all threads.

    Exactly one of ``bot_token`` and ``secret_key`` (the 32 bytes of get_secret_key) is given.
    ``verify(init_data)`` returns the parsed record, or raises InitDataError for, in this order:
    what cannot be parsed, a bad signature, a missing ``auth_date`` (unless ``max_age`` is None),
    an ``auth_date`` more than ``max_future`` seconds ahead of ``clock()``, one more than
    ``max_age`` seconds old, and, with ``require_user``, data without a user. The future check
    applies whenever ``auth_date`` is present.
    """

    __slots__ = ("_key", "_max_age", "_max_future", "_require_user", "_clock", "verify")

    _key: bytes
    _max_age: Optional[float]
    _max_future: float
    _require_user: bool
    _clock: Callable[[], float]
    # A function made per instance rather than a method: it runs on every request, and its
    # settings read from the closure cost less than attribute reads through self.
    verify: Callable[[str], WebAppInitData]

    def __init__(
        self,
        *,
        bot_token: Optional[str] = None,
        secret_key: Optional[KeyLike] = None,
        max_age: Optional[float] = 86400,
        max_future: float = 60,
        require_user: bool = False,
        clock: Callable[[], float] = time.time,
    ) -> None:
        # bytes: the native check takes them faster than a list of ints (see bench/bench.py).
        key = key_bytes(bot_token, secret_key)
        age_limit = None if max_age is None else _seconds("max_age", max_age)
        future_limit = _seconds("max_future", max_future)
        if not callable(clock):
            raise TypeError("clock must be a callable returning Unix time in seconds")
        set_ = object.__setattr__
        set_(self, "_key", key)
        set_(self, "_max_age", age_limit)
        set_(self, "_max_future", future_limit)
        set_(self, "_require_user", bool(require_user))
        set_(self, "_clock", clock)
        set_(self, "verify", _make_verify(key, age_limit, future_limit, bool(require_user), clock))

    def __setattr__(self, name: str, value: object) -> None:
        raise AttributeError(f"Verifier is immutable; cannot set {name!r}")

    def __delattr__(self, name: str) -> None:
        raise AttributeError(f"Verifier is immutable; cannot delete {name!r}")

    @property
    def max_age(self) -> Optional[float]:
        """Seconds after auth_date during which init data is accepted; None: no age check."""
        return self._max_age

    @property
    def max_future(self) -> float:
        """Seconds by which auth_date may be ahead of the clock."""
        return self._max_future

    @property
    def require_user(self) -> bool:
        """Whether init data without a user is refused."""
        return self._require_user

    @property
    def clock(self) -> Callable[[], float]:
        """The function giving the current Unix time in seconds."""
        return self._clock

    def __repr__(self) -> str:
        # Never the key: a repr ends up in logs.
        clock = "" if self._clock is time.time else f", clock={self._clock!r}"
        return (f"Verifier(max_age={self._max_age!r}, max_future={self._max_future!r}, "
                f"require_user={self._require_user!r}{clock})")

    def __reduce__(self) -> tuple[Any, ...]:
        # For process pools: the attributes cannot be set after construction, so rebuild.
        return (_rebuild, (self._key, self._max_age, self._max_future, self._require_user,
                           self._clock))


def _make_verify(key: bytes, max_age: Optional[float], max_future: float, require_user: bool,
                 clock: Callable[[], float]) -> Callable[[str], WebAppInitData]:
    # One float age compared with float limits: no int-float comparisons on the way.
    min_age = -float(max_future)
    oldest = math.inf if max_age is None else float(max_age)
    need_auth_date = max_age is not None

    def verify(init_data: str) -> WebAppInitData:
        """The parsed record of signed, fresh init data; raises InitDataError otherwise."""
        try:
            record = _parse(init_data)
            if not _validate(record, key):
                raise InitDataError("signature")
        except PanicException as error:
            raise InitDataError("malformed", str(error)) from None
        except UnicodeEncodeError as error:
            # A lone surrogate, as json.loads makes of "\ud800" in a request body: no UTF-8 form.
            raise InitDataError("malformed", str(error)) from None
        auth_date = record.auth_date
        if auth_date is not None:
            age = clock() - auth_date
            if age < min_age:
                raise InitDataError("future", f"auth_date {auth_date} is {-age:.0f} s ahead of "
                                    "the clock")
            if age > oldest:
                raise InitDataError("expired", f"auth_date {auth_date} is {age:.0f} s old, more "
                                    f"than max_age {oldest:g} s")
        elif need_auth_date:
            raise InitDataError("no_auth_date")
        if require_user and record.user is None:
            raise InitDataError("no_user")
        return record

    return verify


def _rebuild(key: bytes, max_age: Optional[float], max_future: float, require_user: bool,
             clock: Callable[[], float]) -> Verifier:
    return Verifier(secret_key=key, max_age=max_age, max_future=max_future,
                    require_user=require_user, clock=clock)
