# The class is taken from the native module at import time; to a type checker it is a plain
# BaseException subclass, so `except PanicException as e` gives `e` this type.

# pyright: strict
__all__ = ["PanicException"]

class PanicException(BaseException):
    """Raised by norvik_auth when init data cannot be parsed, or when the interpreter fails it
    inside a call; args[0] is the message. A BaseException: a multiprocessing.Pool
    worker dies on it, a concurrent.futures pool hands it back."""
