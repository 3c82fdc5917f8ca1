"""Flask: init_data_required, a view decorator that verifies the request's init data.

    @app.get("/me")
    @init_data_required(verifier)
    def me() -> dict[str, Any]:
        init_data: WebAppInitData = g.init_data

Importing this module imports Flask; ``import norvik_auth_extras`` does not.
"""

# pyright: strict
from __future__ import annotations

import functools
from collections.abc import Callable
from inspect import iscoroutinefunction
from typing import Any, Optional, TypeVar, cast

from flask import Response, g, jsonify, request

from ._verifier import Verifier
from ._web import unauthorized_headers, verify_header

__all__ = ["init_data_required"]

View = TypeVar("View", bound=Callable[..., Any])


def init_data_required(verifier: Verifier) -> Callable[[View], View]:
    """A decorator for views: the verified record in ``flask.g.init_data``, then the view, or 401
    with ``WWW-Authenticate: InitData`` and ``{"error": reason}`` on a refusal or a missing
    header. Any other exception propagates. An async view stays async (Flask runs it with its
    ``async`` extra). Put it below ``@app.route``, which must register the decorated view.
    """

    def refusal() -> Optional[Response]:
        outcome = verify_header(verifier, request.headers.get("Authorization"))
        if isinstance(outcome, str):
            response = jsonify(error=outcome)
            response.status_code = 401
            response.headers.update(unauthorized_headers())
            return response
        g.init_data = outcome
        return None

    def decorator(view: View) -> View:
        # Flask looks at the view it registers to tell an async one: so must the wrapper.
        if iscoroutinefunction(view):
            @functools.wraps(view)
            async def async_view(*args: Any, **kwargs: Any) -> Any:
                refused = refusal()
                return refused if refused is not None else await view(*args, **kwargs)
            return cast(View, async_view)

        @functools.wraps(view)
        def sync_view(*args: Any, **kwargs: Any) -> Any:
            refused = refusal()
            return refused if refused is not None else view(*args, **kwargs)
        return cast(View, sync_view)

    return decorator
