"""The package's one rule for writing files: whole, or not at all."""

import os
import uuid


def temporary_beside(path):
    """A hidden name beside `path`, unique to this call (threads and processes
    writing the same file at once each get their own), under which the file
    is written before it is renamed to `path`."""
    folder, name = os.path.split(os.fspath(path))
    return os.path.join(folder, f".{name}.{uuid.uuid4().hex}.part")


def write_replacing(path, text):
    """Writes the whole file under a temporary name, then renames it, so that
    a failure leaves an earlier file as it was."""
    temporary = temporary_beside(path)
    try:
        with open(temporary, "w", encoding="utf-8") as file:
            file.write(text)
        os.replace(temporary, path)
    finally:
        if os.path.exists(temporary):
            os.remove(temporary)
