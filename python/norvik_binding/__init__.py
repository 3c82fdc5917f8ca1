"""The exception class that norvik_auth raises when it cannot parse init data.

The native module creates the class but does not export it; its instances name this module, so
importing the class from here makes ``except PanicException`` possible and lets ``pickle`` carry
the error and its message back by reference.

It derives from BaseException, and not every pool carries that back. A pool of
``concurrent.futures`` does: ``future.result()`` raises it in the parent. A worker of
``multiprocessing.Pool`` catches only Exception, so it dies, and ``apply`` or ``map`` then wait for
ever. In workers, call ``norvik_auth_extras.Verifier.verify``, whose refusals are InitDataError, a
ValueError that every pool hands back.
"""

# pyright: strict
from __future__ import annotations

import norvik_auth

__all__ = ["PanicException"]


def _raised_class() -> type[BaseException]:
    # Empty init data has no hash, which the parser always refuses.
    try:
        norvik_auth.parse_webapp_data("")
    except BaseException as error:  # noqa: B902 - the class is not an Exception subclass
        if type(error).__name__ == "PanicException" and not isinstance(error, Exception):
            return type(error)
        raise
    raise ImportError("norvik_auth accepted empty init data, so its PanicException is unknown")


PanicException = _raised_class()
