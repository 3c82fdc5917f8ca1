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
    """A user or bot from init data: read-only, final, made only by the module."""
    @property
    def id(self) -> int:
        """Unique identifier of the user or bot."""
    @property
    def is_bot(self) -> bool | None:
        """True for a bot; None when the member is absent."""
    @property
    def first_name(self) -> str:
        """First name of the user or bot."""
    @property
    def last_name(self) -> str | None:
        """Last name, or None when absent."""
    @property
    def username(self) -> str | None:
        """Username, or None when absent."""
    @property
    def language_code(self) -> str | None:
        """Language code of the user's interface, such as "en", or None when absent."""
    @property
    def is_premium(self) -> bool | None:
        """True for a premium user; None when the member is absent."""
    @property
    def added_to_attachment_menu(self) -> bool | None:
        """True if the user added the bot to the attachment menu; None when absent."""
    @property
    def allows_write_to_pm(self) -> bool | None:
        """True if the user allowed the bot to message them; None when absent."""
    @property
    def photo_url(self) -> str | None:
        """URL of the profile photo, or None when absent."""

@final
class WebAppChat:
    """A chat from init data: read-only, final, made only by the module."""
    @property
    def id(self) -> int:
        """Unique identifier of the chat."""
    @property
    def type(self) -> str:
        """Chat type, such as "group", "supergroup" or "channel" (member type_)."""
    @property
    def title(self) -> str:
        """Title of the chat."""
    @property
    def username(self) -> str | None:
        """Username of the chat, or None when absent."""
    @property
    def photo_url(self) -> str | None:
        """URL of the chat photo, or None when absent."""

@final
class WebAppInitData:
    """Parsed init data, as returned by parse_webapp_data: read-only and final."""
    @property
    def query_id(self) -> str | None:
        """Identifier of the web-app session for answering the query, or None."""
    # Each read of user, receiver and chat returns a new copy of the stored record.
    @property
    def user(self) -> WebAppUser | None:
        """The current user, or None; each read returns a new copy."""
    @property
    def receiver(self) -> WebAppUser | None:
        """The chat partner in a private chat, or None; each read returns a new copy."""
    @property
    def chat(self) -> WebAppChat | None:
        """The chat the app was opened from, or None; each read returns a new copy."""
    @property
    def chat_type(self) -> str | None:
        """Type of the chat the app was opened from, or None."""
    @property
    def chat_instance(self) -> str | None:
        """Global identifier of the chat the app was opened from, or None."""
    @property
    def start_param(self) -> str | None:
        """The start parameter passed in the launch link, or None."""
    @property
    def can_send_after(self) -> int | None:
        """Seconds to wait before a message can be sent for query_id, or None."""
    @property
    def auth_date(self) -> int | None:
        """Unix time at which the init data was signed, or None; not checked for age."""
    @property
    def hash(self) -> str:
        """The hash member: the hex signature that validate_webapp_data checks."""

def validate_webapp_data(webapp_data: WebAppInitData, secret_key: Sequence[int]) -> bool:
    """True if `hash` is the HMAC-SHA-256 of the data-check string under `secret_key`.

    The key is any sequence of ints 0-255 (list, tuple, bytes, bytearray...) except a str,
    which is refused with TypeError.
    """

def get_secret_key(bot_token: str) -> list[int]:
    """The bot's 32-byte secret key, as a list of ints 0-255."""

def parse_webapp_data(webapp_data: str) -> WebAppInitData:
    """Parses an init-data query string; malformed input raises PanicException."""
