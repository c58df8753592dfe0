"""Finding and loading the engine (libzm) and the tool's library (libzmtool).

Both are shared libraries; nothing here is compiled. They are looked for,
in order: in the folders named by the environment variable ZM_LIBRARY_PATH
(separated by os.pathsep; when it is set, nowhere else),
beside this package, and in the lib folders of the prefixes the package may
be installed under.
"""

import ctypes
import glob
import json
import os
import sys
import threading

from .errors import LibraryNotFound

# The engine's figures (include/zm/zm.h) that this package is written for.
# The loaded libraries state theirs (zmtool_constants); a library built with
# other ones is refused rather than handed records of the wrong size.
DESIGN_SIZE = 33796
MATERIAL_SIZE = 186
GROUP_COUNT = 64
MIN_SAMPLE_RATE = 44100
LEAD_IN_FRAMES = 512
MEMORY_PREFIX = b"mem:"
_EXPECTED = {"designRecordSize": DESIGN_SIZE, "materialEntrySize": MATERIAL_SIZE,
             "groupSlots": GROUP_COUNT, "minSampleRate": MIN_SAMPLE_RATE,
             "leadInFrames": LEAD_IN_FRAMES, "memoryPrefix": MEMORY_PREFIX.decode()}
MESSAGE_SIZE = 1024
ENV_VARIABLE = "ZM_LIBRARY_PATH"

# int32 progress callback(done, total, userData): the platform's default
# convention on every system the package runs on.
PROGRESS_CALLBACK = ctypes.CFUNCTYPE(None, ctypes.c_int32, ctypes.c_int32, ctypes.c_void_p)


class ErrorRecord(ctypes.Structure):
    _pack_ = 1
    _fields_ = [("Failed", ctypes.c_uint8), ("Message", ctypes.c_char * 128)]

    def text(self):
        return self.Message.split(b"\0", 1)[0].decode("latin-1")


def _candidate_folders():
    setting = os.environ.get(ENV_VARIABLE)
    if setting:
        # An explicit setting (folders separated by os.pathsep) is the only
        # place looked at: a wrong one must not be hidden by another copy.
        return setting.split(os.pathsep)
    here = os.path.dirname(os.path.abspath(__file__))
    folders = [here]
    # Installed by CMake under PREFIX/lib/python3/dist-packages/zm, or by pip
    # under some PREFIX/lib/pythonX.Y/site-packages/zm.
    parent = here
    for _ in range(4):
        parent = os.path.dirname(parent)
        folders.append(parent)
        folders.append(os.path.join(parent, "lib"))
    for prefix in (sys.prefix, "/usr/local", "/usr"):
        folders.append(os.path.join(prefix, "lib"))
        folders.append(os.path.join(prefix, "lib", "x86_64-linux-gnu"))
    return folders


def _find(stem, folders):
    for folder in folders:
        for pattern in (stem + ".so", stem + ".so.*"):
            found = sorted(glob.glob(os.path.join(folder, pattern)))
            if found:
                return found[0]
    return None


def _declare(zm, tool):
    c = ctypes
    design_p, material_p = c.c_char_p, c.c_char_p  # raw record buffers
    error_p = c.POINTER(ErrorRecord)
    # Fast mode takes ZM_process's arguments and reports as it does.
    for process in (zm.ZM_process, tool.zmtool_process_fast):
        process.argtypes = [design_p, c.c_char_p, error_p, c.POINTER(c.c_uint8),
                            PROGRESS_CALLBACK, c.c_void_p, c.c_int32]
        process.restype = None
    zm.ZM_loadSetup.argtypes = [c.c_char_p, design_p, error_p]
    zm.ZM_saveSetup.argtypes = [c.c_char_p, design_p, error_p]
    zm.ZM_loadMaterial.argtypes = [c.c_char_p, material_p, error_p]
    zm.ZM_saveMaterial.argtypes = [c.c_char_p, material_p, error_p]
    zm.ZM_getVersion.restype = c.c_int32
    text_out = c.POINTER(c.c_void_p)
    msg = [c.c_char_p, c.c_size_t]
    dbl_p = c.POINTER(c.c_double)
    signatures = {
        "zmtool_design_from_json": [c.c_char_p, c.c_char_p, design_p] + msg,
        "zmtool_design_to_json": [design_p, text_out] + msg,
        "zmtool_material_from_json": [c.c_char_p, c.c_char_p, material_p] + msg,
        "zmtool_material_to_json": [material_p, text_out] + msg,
        "zmtool_check_design": [design_p, c.c_char_p, c.c_int] + msg,
        "zmtool_catalogue": [c.c_char_p, text_out] + msg,
        "zmtool_read_audio": [c.c_char_p, c.POINTER(dbl_p), c.POINTER(c.c_size_t),
                              c.POINTER(c.c_int), c.POINTER(c.c_int)] + msg,
        "zmtool_analyze": [dbl_p, c.c_size_t, c.c_int, c.c_int, text_out] + msg,
        "zmtool_resample": [dbl_p, c.c_size_t, c.c_int, c.c_int, c.c_int, c.POINTER(dbl_p),
                            c.POINTER(c.c_size_t)] + msg,
        "zmtool_write_audio": [c.c_char_p, dbl_p, c.c_size_t, c.c_int, c.c_int] + msg,
        "zmtool_direct_level": [design_p, c.c_int, text_out] + msg,
        "zmtool_reverberation_estimate": [design_p, text_out] + msg,
        "zmtool_constants": [text_out] + msg,
        "zmtool_auralise": [dbl_p, c.c_size_t, c.c_int, c.c_int, dbl_p, c.c_size_t, c.c_int,
                            c.c_int, dbl_p, c.POINTER(dbl_p), c.POINTER(c.c_size_t),
                            c.POINTER(c.c_int), dbl_p] + msg,
    }
    for name, argtypes in signatures.items():
        function = getattr(tool, name)
        function.argtypes = argtypes
        function.restype = c.c_int
    tool.zmtool_free.argtypes = [c.c_void_p]
    tool.zmtool_free.restype = None


def _check_figures(tool, path):
    """Raises LibraryNotFound when libzmtool at `path` was built with other
    figures than this package's."""
    c = ctypes
    text, message = c.c_void_p(), c.create_string_buffer(MESSAGE_SIZE)
    if tool.zmtool_constants(c.byref(text), message, MESSAGE_SIZE) != 0:
        raise LibraryNotFound(f"{path}: {message.value.decode('utf-8', 'replace')}")
    try:
        figures = json.loads(c.string_at(text).decode("utf-8"))
    finally:
        tool.zmtool_free(text)
    differ = [f"{name} {figures.get(name)!r} (this package: {value!r})"
              for name, value in _EXPECTED.items() if figures.get(name) != value]
    if differ:
        raise LibraryNotFound(
            f"{path} was built for another version of the engine: {', '.join(differ)}; "
            f"use the libraries built with this package, or set {ENV_VARIABLE} to their folder")


class Libraries:
    """The two loaded libraries, with their functions declared."""

    def __init__(self, zm, tool, folder):
        self.zm, self.tool, self.folder = zm, tool, folder


_loaded = None
_lock = threading.Lock()


def libraries():
    """The loaded libraries; raises LibraryNotFound, saying where it looked."""
    global _loaded
    with _lock:
        if _loaded is None:
            folders = _candidate_folders()
            engine, tool = _find("libzm", folders), _find("libzmtool", folders)
            if engine is None or tool is None:
                missing = " and ".join(n for n, p in (("libzm", engine), ("libzmtool", tool))
                                       if p is None)
                raise LibraryNotFound(
                    f"cannot find {missing}: looked in {', '.join(dict.fromkeys(folders))}; "
                    f"set {ENV_VARIABLE} to the folders that hold libzm.so and libzmtool.so")
            # The engine first and globally, so that the tool's library binds
            # to this very copy rather than to one its run path names.
            zm = ctypes.CDLL(engine, mode=ctypes.RTLD_GLOBAL)
            tool_library = ctypes.CDLL(tool)
            _declare(zm, tool_library)
            _check_figures(tool_library, tool)
            _loaded = Libraries(zm, tool_library, os.path.dirname(engine))
        return _loaded
