"""as_dict: a record as plain data, for json.dumps and a web framework's return values."""

# pyright: strict
from __future__ import annotations

import types
from typing import Any, Union

from norvik_auth import WebAppChat, WebAppInitData, WebAppUser

Record = Union[WebAppInitData, WebAppUser, WebAppChat]


def _fields(cls: type) -> tuple[str, ...]:
    # The attributes are the classes' getters, in the order they are declared: a field the
    # module gains appears here without a list to keep in step.
    return tuple(name for name, member in vars(cls).items()
                 if isinstance(member, types.GetSetDescriptorType))


_FIELDS: dict[type, tuple[str, ...]] = {cls: _fields(cls)
                                        for cls in (WebAppInitData, WebAppUser, WebAppChat)}


def as_dict(record: Record) -> dict[str, Any]:
    """Every field of a WebAppInitData, WebAppUser or WebAppChat, None where absent; a user or
    chat inside init data becomes a dict too. The chat's type is under ``"type"``. Holds only
    str, int, bool, None and such dicts: ``json.dumps`` takes it as it is."""
    fields = _FIELDS.get(type(record))
    if fields is None:
        raise TypeError(f"as_dict takes a WebAppInitData, WebAppUser or WebAppChat, not "
                        f"{type(record).__name__}")
    data: dict[str, Any] = {}
    for name in fields:
        value = getattr(record, name)
        data[name] = as_dict(value) if type(value) in _FIELDS else value
    return data
