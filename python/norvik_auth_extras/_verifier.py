"""Verifier and InitDataError: parse, check the signature, the age and the user, in one call."""

# pyright: strict
from __future__ import annotations

import math
import numbers
import time
from collections.abc import Callable
from datetime import timedelta
from typing import Any, Literal, Optional, TypeVar, Union, cast

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

# The parser's own refusals of the text: a missing hash and the members it could not convert.
# Any other PanicException (a Python object it could not make, a message added later) is the
# server's, and must not reach a client as "malformed".
_CLIENT_FAULT_PREFIXES = tuple(f"Unable to parse {member}: " for member in
                               ("user", "receiver", "chat", "auth_date", "can_send_after"))


def is_parse_refusal(message: str) -> bool:
    """Whether a PanicException message of parse_webapp_data is about the text it was given."""
    return message == "Hash is required" or message.startswith(_CLIENT_FAULT_PREFIXES)


_Error = TypeVar("_Error")


class _OneClassPerReason(type):
    """Makes ``InitDataError(reason, ...)`` an instance of that reason's class, so that the class
    and ``.reason`` always agree, however the error was made: ``except ExpiredInitData`` also
    catches an ``InitDataError("expired")`` raised by a subclass of Verifier or a test's mock."""

    # Typed to give an instance of the class called, so that checkers read the arguments from
    # its __init__.
    def __call__(cls: type[_Error], *args: Any, **kwargs: Any) -> _Error:
        if cls is InitDataError:
            return cast(_Error, _by_reason(*args, **kwargs))
        return cast(_Error, type.__call__(cls, *args, **kwargs))


class InitDataError(ValueError, metaclass=_OneClassPerReason):
    """Init data refused by Verifier.verify; each reason has its own subclass.

    ``str(error)`` is a short fixed text per reason, safe to send to a client. ``detail`` is for
    logs: the parser's message for "malformed", the times compared for "expired" and "future",
    otherwise empty. ``init_data`` is the verified record when the refusal came after the
    signature was checked (no auth_date, expired, future, no user), otherwise None; a pickled
    copy has None, as the records do not pickle.
    """

    reason: Reason
    detail: str
    init_data: Optional[WebAppInitData]

    def __init__(self, reason: Reason, detail: str = "", *,
                 init_data: Optional[WebAppInitData] = None) -> None:
        if reason not in _MESSAGES:
            raise ValueError(f"unknown reason {reason!r}")
        super().__init__(_MESSAGES[reason])
        self.reason = reason
        self.detail = detail
        self.init_data = init_data

    def __reduce__(self) -> tuple[Any, ...]:
        # The default would call the class with the message alone. The record stays behind: it
        # does not pickle, and an error that cannot cross to another process would be lost there.
        state = {name: value for name, value in vars(self).items() if name != "init_data"}
        return (_unpickle, (type(self), self.reason), state)

    def __repr__(self) -> str:
        return f"{type(self).__name__}(detail={self.detail!r})"


class MalformedInitData(InitDataError):
    """The text does not parse; ``detail`` holds the parser's message. No record."""

    def __init__(self, detail: str = "", *, init_data: Optional[WebAppInitData] = None) -> None:
        super().__init__("malformed", detail, init_data=init_data)


class InvalidSignature(InitDataError):
    """The hash does not match the bot's key. No record: nothing in it can be trusted."""

    def __init__(self, detail: str = "", *, init_data: Optional[WebAppInitData] = None) -> None:
        super().__init__("signature", detail, init_data=init_data)


class MissingAuthDate(InitDataError):
    """No auth_date while max_age is set; carries the verified record."""

    def __init__(self, detail: str = "", *, init_data: Optional[WebAppInitData] = None) -> None:
        super().__init__("no_auth_date", detail, init_data=init_data)


class ExpiredInitData(InitDataError):
    """auth_date is more than max_age seconds old; carries the verified record, so that the app
    can tell a user it knows to open it again."""

    def __init__(self, detail: str = "", *, init_data: Optional[WebAppInitData] = None) -> None:
        super().__init__("expired", detail, init_data=init_data)


class FutureInitData(InitDataError):
    """auth_date is more than max_future seconds ahead of the clock; carries the verified record."""

    def __init__(self, detail: str = "", *, init_data: Optional[WebAppInitData] = None) -> None:
        super().__init__("future", detail, init_data=init_data)


class MissingUser(InitDataError):
    """No user while require_user is set; carries the verified record."""

    def __init__(self, detail: str = "", *, init_data: Optional[WebAppInitData] = None) -> None:
        super().__init__("no_user", detail, init_data=init_data)


# Each class by its reason; typed as what they share, the call with a detail alone.
_CLASSES: dict[str, Callable[..., InitDataError]] = {
    "malformed": MalformedInitData, "signature": InvalidSignature,
    "no_auth_date": MissingAuthDate, "expired": ExpiredInitData, "future": FutureInitData,
    "no_user": MissingUser}

# The public name, which tracebacks and logs show, and pickle looks the classes up by.
for _class in (InitDataError, MalformedInitData, InvalidSignature, MissingAuthDate,
               ExpiredInitData, FutureInitData, MissingUser):
    _class.__module__ = "norvik_auth_extras"


def _by_reason(reason: Reason, detail: str = "", *,
               init_data: Optional[WebAppInitData] = None) -> InitDataError:
    cls = _CLASSES.get(reason)
    if cls is None:
        raise ValueError(f"unknown reason {reason!r}")
    return cls(detail, init_data=init_data)


_new_exception = ValueError.__new__
_Refusal = TypeVar("_Refusal", bound=InitDataError)


def _refusal(cls: type[_Refusal], reason: Reason, detail: str = "",
             init_data: Optional[WebAppInitData] = None) -> _Refusal:
    """What ``cls(detail, init_data=init_data)`` makes, without its Python calls (the metaclass,
    the chain of __init__), which cost more than the parser's own refusal: on a server open to
    the internet, refusing junk is the common case."""
    error = _new_exception(cls, _MESSAGES[reason])
    error.reason = reason
    error.detail = detail
    error.init_data = init_data
    return error


def _unpickle(cls: type[InitDataError], reason: Reason) -> InitDataError:
    # Without calling cls: a subclass an application made may take other arguments.
    error = cls.__new__(cls)
    InitDataError.__init__(error, reason)
    return error


def as_seconds(name: str, value: object) -> float:
    """A real number but a bool, as a float: TypeError or ValueError, never OverflowError."""
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be a real number of seconds, not {type(value).__name__}")
    try:
        return float(value)
    except OverflowError:
        raise ValueError(f"{name} is beyond any float") from None


def seconds_setting(name: str, value: object) -> float:
    """A limit in seconds, or a timedelta: zero or more; math.inf for none."""
    if isinstance(value, timedelta):
        seconds = value.total_seconds()
    elif isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be a real number of seconds or a timedelta, not "
                        f"{type(value).__name__}")
    else:
        seconds = as_seconds(name, value)
    if not seconds >= 0:  # NaN too
        raise ValueError(f"{name} must be zero or more seconds, not {seconds!r}")
    return seconds


def clock_reading(value: object) -> float:
    """A reading of the clock as a finite float. A clock that gives anything else is broken, which
    is the server's fault: RuntimeError, never a refusal that a framework would answer with 401,
    and never a comparison that NaN would make false."""
    try:
        seconds = as_seconds("its reading", value)
    except (TypeError, ValueError) as error:
        raise RuntimeError(f"the verifier's clock is broken: {error}") from None
    if not math.isfinite(seconds):
        raise RuntimeError(f"the verifier's clock is broken: it returned {seconds!r}, not a "
                           "finite Unix time")
    return seconds


class Verifier:
    """Checks init data for one bot. Its settings are fixed when it is made, so one instance may
    serve all threads; it pickles (with its clock) for process pools.

    Exactly one of ``bot_token`` and ``secret_key`` (the 32 bytes of get_secret_key) is given.
    ``max_age`` and ``max_future`` are seconds or a timedelta; their properties give seconds.
    ``verify(init_data)`` returns the parsed record, or raises the subclass of InitDataError of
    the first reason to refuse it, in this order: what cannot be parsed (MalformedInitData), a
    bad signature (InvalidSignature), a missing ``auth_date`` unless ``max_age`` is None
    (MissingAuthDate), an ``auth_date`` more than ``max_future`` seconds ahead of ``clock()``
    (FutureInitData), one more than ``max_age`` seconds old (ExpiredInitData), and, with
    ``require_user``, data without a user (MissingUser). The last four carry the verified record
    as ``init_data``. The future check applies whenever ``auth_date`` is present. What is not
    the client's fault is not an InitDataError: a clock reading that is not a finite number, or a
    failure of the native module other than a refusal of the text, raises RuntimeError;
    MemoryError passes as itself.
    """

    # __dict__ for what is not the verifier's own state: a subclass's attributes, or a mock
    # that mock.patch.object puts in place of verify.
    __slots__ = ("_key", "_max_age", "_max_future", "_require_user", "_clock", "_min_age",
                 "_oldest", "__dict__")

    _key: bytes
    _max_age: Optional[float]
    _max_future: float
    _require_user: bool
    _clock: Callable[[], float]
    _min_age: float  # -max_future
    _oldest: float  # max_age, or inf when it is None

    def __init__(
        self,
        *,
        bot_token: Optional[str] = None,
        secret_key: Optional[KeyLike] = None,
        max_age: Union[float, timedelta, None] = 86400,
        max_future: Union[float, timedelta] = 60,
        require_user: bool = False,
        clock: Callable[[], float] = time.time,
    ) -> None:
        if hasattr(self, "_key"):
            raise AttributeError("Verifier is immutable; it is initialised once")
        # bytes: the native check takes them faster than a list of ints (see bench/bench.py).
        _set_state(self, key_bytes(bot_token, secret_key), max_age, max_future, require_user,
                   clock)

    def verify(self, init_data: str) -> WebAppInitData:
        """The parsed record of signed, fresh init data; raises InitDataError (the subclass of
        its reason) otherwise, and RuntimeError for what is the server's fault (a broken clock, a
        failure inside the module)."""
        # The malformed refusal is raised after the handler, not inside it: an exception raised in
        # a handler takes the caught one as its context, which costs more than parsing the junk.
        try:
            record = _parse(init_data)
        except PanicException as error:
            message = str(error)
            if message != "Hash is required" and not message.startswith(_CLIENT_FAULT_PREFIXES):
                raise RuntimeError(f"init data could not be parsed: {message}") from error
        except UnicodeEncodeError as error:
            # A lone surrogate, as json.loads makes of "\ud800" in a request body: no UTF-8 form.
            message = str(error)
        else:
            try:
                valid = _validate(record, self._key)
                # Each read of the record makes new Python objects, which may fail as well.
                auth_date = record.auth_date
                no_user = self._require_user and record.user is None
            except PanicException as error:
                raise RuntimeError(f"the init data could not be checked: {error}") from error
            if not valid:
                raise _refusal(InvalidSignature, "signature")
            if auth_date is not None:
                now = self._clock()  # read once: both limits are judged at the same moment
                if type(now) is not float or now - now != 0.0:  # NaN and infinities give NaN
                    now = clock_reading(now)
                age = now - auth_date
                if age < self._min_age:
                    raise _refusal(FutureInitData, "future", f"auth_date {auth_date} is "
                                   f"{-age:.0f} s ahead of the clock", record)
                if age > self._oldest:
                    raise _refusal(ExpiredInitData, "expired", f"auth_date {auth_date} is "
                                   f"{age:.0f} s old, more than max_age {self._oldest:g} s", record)
            elif self._max_age is not None:
                raise _refusal(MissingAuthDate, "no_auth_date", "", record)
            if no_user:
                raise _refusal(MissingUser, "no_user", "", record)
            return record
        raise _refusal(MalformedInitData, "malformed", message)

    def __setattr__(self, name: str, value: object) -> None:
        if name in _STATE:
            raise AttributeError(f"Verifier is immutable; cannot set {name!r}")
        object.__setattr__(self, name, value)

    def __delattr__(self, name: str) -> None:
        if name in _STATE:
            raise AttributeError(f"Verifier is immutable; cannot delete {name!r}")
        object.__delattr__(self, name)

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
        return (f"{type(self).__name__}(max_age={self._max_age!r}, "
                f"max_future={self._max_future!r}, require_user={self._require_user!r}{clock})")

    def __reduce__(self) -> tuple[Any, ...]:
        # Rebuilt without calling __init__, whose signature a subclass may have changed; a
        # subclass's own attributes come back as the state.
        return (_rebuild, (type(self), self._key, self._max_age, self._max_future,
                           self._require_user, self._clock), self.__dict__ or None)


# What no one may set or delete once the verifier is made; verify is left free for mocks.
_STATE = frozenset(Verifier.__slots__) - {"__dict__"} | {
    "__class__", "max_age", "max_future", "require_user", "clock"}


def _set_state(verifier: Verifier, key: bytes, max_age: object, max_future: object,
               require_user: object, clock: Callable[[], float]) -> None:
    age_limit = None if max_age is None else seconds_setting("max_age", max_age)
    future_limit = seconds_setting("max_future", max_future)
    if not isinstance(require_user, bool):
        raise TypeError(f"require_user must be a bool, not {type(require_user).__name__}")
    if not callable(clock):
        raise TypeError("clock must be a callable returning Unix time in seconds")
    set_ = object.__setattr__
    set_(verifier, "_key", key)
    set_(verifier, "_max_age", age_limit)
    set_(verifier, "_max_future", future_limit)
    set_(verifier, "_require_user", require_user)
    set_(verifier, "_clock", clock)
    set_(verifier, "_min_age", -future_limit)
    set_(verifier, "_oldest", math.inf if age_limit is None else age_limit)


def _rebuild(cls: type[Verifier], key: bytes, max_age: Optional[float], max_future: float,
             require_user: bool, clock: Callable[[], float]) -> Verifier:
    verifier = cls.__new__(cls)
    _set_state(verifier, key_bytes(None, key), max_age, max_future, require_user, clock)
    return verifier
