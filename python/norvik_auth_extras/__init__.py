"""Authenticate init data in one call, sign it for tests, and explain why a hash does not match.

- ``Verifier``: made once per bot; ``verify(init_data)`` parses, checks the signature and the age,
  and returns the record or raises ``InitDataError``.
- ``InitDataError``: a ``ValueError`` whose ``reason`` says why init data was refused and whose
  text is safe to show a client; one subclass per reason (``MalformedInitData``,
  ``InvalidSignature``, ``MissingAuthDate``, ``ExpiredInitData``, ``FutureInitData``,
  ``MissingUser``).
- ``sign_init_data``: signed init data from a mapping of fields, for tests.
- ``explain``: a readable account of one init data, naming the likely cause of a bad signature.
- ``as_dict``: a record as plain, JSON-ready data.
"""

# pyright: strict
from __future__ import annotations

from ._explain import explain
from ._records import as_dict
from ._signing import sign_init_data
from ._verifier import (ExpiredInitData, FutureInitData, InitDataError, InvalidSignature,
                        MalformedInitData, MissingAuthDate, MissingUser, Reason, Verifier)

__all__ = ["ExpiredInitData", "FutureInitData", "InitDataError", "InvalidSignature",
           "MalformedInitData", "MissingAuthDate", "MissingUser", "Reason", "Verifier", "as_dict",
           "explain", "sign_init_data"]
