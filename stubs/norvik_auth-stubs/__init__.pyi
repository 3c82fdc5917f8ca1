# Type information for the native module norvik_auth, installed as its PEP 561 stub package.
from collections.abc import Sequence
from typing import final

__all__ = [
    "WebAppUser",
    "WebAppChat",
    "WebAppInitData",
    "validate_webapp_data",
    "get_secret_key",
    "parse_webapp_data",
]

# The classes cannot be instantiated from Python (calling one raises TypeError) nor subclassed;
# instances come only from parse_webapp_data and the attributes of WebAppInitData.

@final
class WebAppUser:
    @property
    def id(self) -> int: ...
    @property
    def is_bot(self) -> bool | None: ...
    @property
    def first_name(self) -> str: ...
    @property
    def last_name(self) -> str | None: ...
    @property
    def username(self) -> str | None: ...
    @property
    def language_code(self) -> str | None: ...
    @property
    def is_premium(self) -> bool | None: ...
    @property
    def added_to_attachment_menu(self) -> bool | None: ...
    @property
    def allows_write_to_pm(self) -> bool | None: ...
    @property
    def photo_url(self) -> str | None: ...

@final
class WebAppChat:
    @property
    def id(self) -> int: ...
    @property
    def type(self) -> str: ...
    @property
    def title(self) -> str: ...
    @property
    def username(self) -> str | None: ...
    @property
    def photo_url(self) -> str | None: ...

@final
class WebAppInitData:
    @property
    def query_id(self) -> str | None: ...
    # Each read of user, receiver and chat returns a new copy of the stored record.
    @property
    def user(self) -> WebAppUser | None: ...
    @property
    def receiver(self) -> WebAppUser | None: ...
    @property
    def chat(self) -> WebAppChat | None: ...
    @property
    def chat_type(self) -> str | None: ...
    @property
    def chat_instance(self) -> str | None: ...
    @property
    def start_param(self) -> str | None: ...
    @property
    def can_send_after(self) -> int | None: ...
    @property
    def auth_date(self) -> int | None: ...
    @property
    def hash(self) -> str: ...

def validate_webapp_data(webapp_data: WebAppInitData, secret_key: Sequence[int]) -> bool:
    """True if `hash` is the HMAC-SHA-256 of the data-check string under `secret_key`.

    The key is any sequence of ints 0-255 (list, tuple, bytes, bytearray...) except a str,
    which is refused with TypeError.
    """

def get_secret_key(bot_token: str) -> list[int]:
    """The bot's 32-byte secret key, as a list of ints 0-255."""

def parse_webapp_data(webapp_data: str) -> WebAppInitData:
    """Parses an init-data query string; malformed input raises PanicException."""
