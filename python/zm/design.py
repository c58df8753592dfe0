"""Designs and materials: the engine's records, made from and turned back
into the JSON form of the zm tool by the tool's own library."""

import ctypes
import json
import os

from ._calls import encode_path, engine_call, tool_call, tool_text
from ._files import write_replacing
from ._library import DESIGN_SIZE, MATERIAL_SIZE


def _json_text(document, argument):
    if isinstance(document, dict):
        return json.dumps(document)
    if isinstance(document, str):
        return document
    raise TypeError(f"{argument}: expected a dict or JSON text, got {type(document).__name__}")


def _base_folder(base_folder):
    return os.fsencode(base_folder) if base_folder is not None else None


def _starts_as_json(path):
    with open(path, "rb") as file:
        return file.read(4096).lstrip().startswith((b"{", b"/"))


class _Record:
    """A packed engine record held in a byte buffer."""

    SIZE = 0

    def __init__(self, record=None):
        if record is None:
            self._buffer = ctypes.create_string_buffer(self.SIZE)
        elif isinstance(record, (bytes, bytearray)) and len(record) == self.SIZE:
            self._buffer = ctypes.create_string_buffer(bytes(record), self.SIZE)
        else:
            raise ValueError(f"record: expected {self.SIZE} bytes")

    @property
    def record(self):
        """The record's bytes, as the engine reads them."""
        return self._buffer.raw

    def to_dict(self):
        return json.loads(self.to_json())

    def __eq__(self, other):
        return type(other) is type(self) and other.record == self.record


class Design(_Record):
    """One room: the engine's TDesignRecord."""

    SIZE = DESIGN_SIZE

    def __init__(self, record=None):
        super().__init__(record)
        # The JSON it came from, so that refusals can name JSON paths.
        self._source_json = None

    @classmethod
    def from_json(cls, text, base_folder=None):
        """A design from JSON text or a dict in the tool's JSON form. Material
        files named in it are found from `base_folder` (default: the current
        folder)."""
        text = _json_text(text, "text")
        design = cls()
        tool_call("zmtool_design_from_json", text.encode("utf-8"), _base_folder(base_folder),
                  design._buffer)
        design._source_json = text
        return design

    from_dict = from_json

    @classmethod
    def load(cls, path):
        """A design file (through the engine's loader) or a JSON design."""
        if _starts_as_json(path):
            with open(path, encoding="utf-8") as file:
                return cls.from_json(file.read(), os.path.dirname(os.path.abspath(path)))
        design = cls()
        engine_call("ZM_loadSetup", encode_path(path, "path"), design._buffer)
        return design

    def save(self, path):
        """JSON when `path` ends in .json, else the engine's design file."""
        if os.fspath(path).lower().endswith(".json"):
            write_replacing(path, self.to_json())
        else:
            engine_call("ZM_saveSetup", encode_path(path, "path"), self._buffer)

    def to_json(self):
        return tool_text("zmtool_design_to_json", self._buffer)

    def check(self, group=0):
        """Raises DesignRefused with the engine's reason when it would not
        render `group`."""
        source = self._source_json.encode("utf-8") if self._source_json else None
        tool_call("zmtool_check_design", self._buffer, source, group)


class Material(_Record):
    """One wall material: the engine's TMaterialEntry."""

    SIZE = MATERIAL_SIZE

    @classmethod
    def from_json(cls, text, base_folder=None):
        """Any material form of the tool's JSON: record values, "absorption",
        "catalogue" or "file"."""
        material = cls()
        tool_call("zmtool_material_from_json", _json_text(text, "text").encode("utf-8"),
                  _base_folder(base_folder), material._buffer)
        return material

    from_dict = from_json

    @classmethod
    def from_catalogue(cls, entry, scattering=None, name=None):
        """The catalogue material `entry` (an id such as "brick-unglazed")."""
        if not isinstance(entry, str):
            raise TypeError(f"entry: expected a catalogue id, got {type(entry).__name__}")
        document = {"catalogue": entry}
        if scattering is not None:
            document["scattering"] = scattering
        if name is not None:
            document["name"] = name
        return cls.from_json(document)

    @classmethod
    def from_absorption(cls, name, absorption, scattering=None):
        """A material from energy absorption coefficients per octave band: a
        list from 125 Hz to 4 kHz, or a dict {"63": a, "125": a, ...}."""
        document = {"name": name, "absorption": absorption}
        if scattering is not None:
            document["scattering"] = scattering
        return cls.from_json(document)

    @classmethod
    def load(cls, path):
        if _starts_as_json(path):
            with open(path, encoding="utf-8") as file:
                return cls.from_json(file.read(), os.path.dirname(os.path.abspath(path)))
        material = cls()
        engine_call("ZM_loadMaterial", encode_path(path, "path"), material._buffer)
        return material

    def save(self, path):
        if os.fspath(path).lower().endswith(".json"):
            write_replacing(path, self.to_json())
        else:
            engine_call("ZM_saveMaterial", encode_path(path, "path"), self._buffer)

    def to_json(self):
        return tool_text("zmtool_material_to_json", self._buffer)


def catalogue(query=""):
    """The catalogue's materials whose id, name, category or source row hold
    every word of `query`, as dicts."""
    if not isinstance(query, str):
        raise TypeError(f"query: expected a string, got {type(query).__name__}")
    return json.loads(tool_text("zmtool_catalogue", query.encode("utf-8")))


def as_design(design, argument="design"):
    if isinstance(design, Design):
        return design
    if isinstance(design, (dict, str)):
        return Design.from_json(design)
    raise TypeError(f"{argument}: expected a Design, a dict or JSON text, "
                    f"got {type(design).__name__}")
