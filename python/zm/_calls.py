"""Calling the two libraries: their messages become exceptions, the text
they allocate is copied and released."""

import ctypes

from ._library import MEMORY_PREFIX, MESSAGE_SIZE, ErrorRecord, libraries
from .errors import DesignRefused, ZmError

REFUSED = 2


def tool_call(name, *args):
    """Calls zmtool function `name`; raises ZmError/DesignRefused on failure."""
    message = ctypes.create_string_buffer(MESSAGE_SIZE)
    code = getattr(libraries().tool, name)(*args, message, MESSAGE_SIZE)
    if code != 0:
        text = message.value.decode("utf-8", "replace")
        raise (DesignRefused if code == REFUSED else ZmError)(text)


def tool_text(name, *args):
    """Calls a zmtool function whose last output is allocated text."""
    pointer = ctypes.c_void_p()
    tool_call(name, *args, ctypes.byref(pointer))
    try:
        return ctypes.string_at(pointer).decode("utf-8")
    finally:
        libraries().tool.zmtool_free(pointer)


def engine_call(name, *args):
    """Calls a ZM_ export that ends in a TErrorRecord."""
    error = ErrorRecord()
    getattr(libraries().zm, name)(*args, ctypes.byref(error))
    if error.Failed:
        raise ZmError(error.text())


def encode_path(path, argument):
    if not isinstance(path, (str, bytes)) and not hasattr(path, "__fspath__"):
        raise TypeError(f"{argument}: expected a path, got {type(path).__name__}")
    import os
    path = os.fsencode(path)
    # The engine opens a throw-away memory block for names starting "mem:".
    return b"./" + path if path.startswith(MEMORY_PREFIX) else path
