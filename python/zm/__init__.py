"""zm: room acoustics from Python.

Designs in the zm tool's JSON form, rendering to NumPy arrays, the tool's
analysis and auralisation, and datasets of many rooms (zm.dataset). The work
is done by the engine (libzm) and the tool's library (libzmtool), loaded
through ctypes; see zm._library for where they are looked for.
"""

from . import dataset
from .design import Design, Material, catalogue
from .errors import DesignRefused, LibraryNotFound, ZmError
from .render import Auralised, RenderResult, analyze, auralise, read_audio, render, render_file

__all__ = ["dataset", "Design", "Material", "catalogue", "render", "render_file", "RenderResult",
           "analyze", "auralise", "Auralised", "read_audio", "ZmError", "DesignRefused",
           "LibraryNotFound"]
