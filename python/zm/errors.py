"""The exceptions of the package."""


class ZmError(Exception):
    """A failure the engine or the tool's library reported; str() is its message."""


class DesignRefused(ZmError):
    """The engine refuses to render the design (raised before any work)."""


class LibraryNotFound(ZmError, OSError):
    """libzm or libzmtool cannot be found or loaded."""
