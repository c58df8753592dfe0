"""Rendering a design into a NumPy array, and the tool's analysis and
auralisation of sampled responses."""

import ctypes
import json
import os
import tempfile
import threading
from dataclasses import dataclass, field

import numpy as np

from ._calls import tool_call, tool_text
from ._library import GROUP_COUNT, PROGRESS_CALLBACK, ErrorRecord, libraries
from .design import as_design
from .errors import ZmError

# A sound starts where the signal first reaches this fraction of the file's
# peak (-20 dB): the rule of the zm tool's render summary.
ONSET_FRACTION = 0.1
# A reflection after the direct sound counts from this fraction (-40 dB).
REFLECTION_FRACTION = 0.01


@dataclass
class RenderResult:
    """An impulse response and what is known of the run that made it.

    Times are in seconds from the start of the file. `channels_used` are the
    channels some receiver wall of the design writes to (the others hold only
    dither, or zeros in float files). `first_sound` is the first frame of any
    used channel reaching -20 dB of the peak; `first_direct` is that frame when
    the design has direct sound (which is always the earliest arrival), else
    None; `first_reflection` is the first frame reaching -40 dB of the peak
    after the direct sound's filter has passed, or `first_sound` when there is
    no direct sound."""

    samples: np.ndarray  # frames x channels, float64, full scale +-1
    fs: int
    channels_used: list = field(default_factory=list)
    first_sound: float = None
    first_direct: float = None
    first_reflection: float = None


def _check_group(group):
    if isinstance(group, bool) or not isinstance(group, (int, np.integer)):
        raise TypeError(f"group: expected an integer, got {type(group).__name__}")
    if not 0 <= group < GROUP_COUNT:
        raise ValueError(f"group: {group} is outside 0 to {GROUP_COUNT - 1}")
    return int(group)


def _progress_function(progress):
    """(callback(done, total), close()) for the `progress` argument."""
    if progress is None or progress is False:
        return None, lambda: None
    if progress is True or progress == "tqdm":
        from tqdm import tqdm
        bar = tqdm(unit="ray", unit_scale=True, desc="render")

        def show(done, total):
            bar.total = total
            bar.update(done - bar.n)
        return show, bar.close
    if callable(progress):
        return progress, lambda: None
    raise TypeError("progress: expected None, True, 'tqdm' or a callable(done, total)")


def read_audio(path):
    """(frames x channels float64 array, sample rate) of a sound file."""
    samples = ctypes.POINTER(ctypes.c_double)()
    frames, channels, rate = ctypes.c_size_t(), ctypes.c_int(), ctypes.c_int()
    tool_call("zmtool_read_audio", os.fsencode(path), ctypes.byref(samples),
              ctypes.byref(frames), ctypes.byref(channels), ctypes.byref(rate))
    try:
        count = frames.value * channels.value
        array = np.ctypeslib.as_array(samples, shape=(max(count, 1),))[:count].copy()
    finally:
        libraries().tool.zmtool_free(samples)
    return array.reshape(frames.value, channels.value), rate.value


def _trace(design, path, group, progress, fast=False):
    """Runs ZM_process (or, `fast`, fast mode) on a worker thread; Ctrl-C
    (KeyboardInterrupt in this thread) stops the engine, waits for it and
    re-raises. Returns True when the run completed."""
    found = libraries()
    process = found.tool.zmtool_process_fast if fast else found.zm.ZM_process
    abort = ctypes.c_uint8(0)
    error = ErrorRecord()
    failure = []
    stopping = []  # nonempty once the caller wants the engine stopped
    began, finished = threading.Event(), threading.Event()

    def on_progress(done, total, _user):
        try:
            if progress is not None and not stopping:
                progress(done, total)
        except BaseException as e:  # not allowed to cross the C frame
            failure.append(e)
            stopping.append(e)
        # The engine reads the byte right after this call. Set only from
        # outside, a stop asked for before the engine started would be lost:
        # the engine clears the byte when it starts.
        if stopping:
            abort.value = 1

    def run():
        began.set()
        try:
            process(design.record, path, ctypes.byref(error), ctypes.byref(abort), callback,
                    None, group)
        finally:
            finished.set()

    callback = PROGRESS_CALLBACK(on_progress)
    # Not a daemon: the interpreter must never end while the engine runs, as
    # it would then end the thread inside the engine's frames. Completion is
    # our own event rather than Thread.join, which a KeyboardInterrupt can
    # leave believing a running thread has stopped (Python 3.11).
    worker = threading.Thread(target=run, name="zm-render")
    try:
        worker.start()
        while not finished.wait(0.05):
            pass
    except BaseException:
        stopping.append(True)
        abort.value = 1
        if began.is_set():
            _wait_through_interrupts(finished)
        raise
    worker.join()
    if failure:
        raise failure[0]
    if error.Failed:
        raise ZmError(error.text())
    return abort.value == 0


def _wait_through_interrupts(event):
    """Waits for `event`; a second Ctrl-C while the engine winds down (at
    most 512 rays, or the rendering of what was traced) is ignored."""
    while True:
        try:
            event.wait()
            return
        except BaseException:
            continue


def _facts(design, samples, fs):
    doc = design.to_dict()
    options = doc.get("options", {})
    used = sorted({w.get("channel", 0) for w in doc.get("walls", []) if w.get("receiver")})
    used = [c for c in used if c < samples.shape[1]]
    result = RenderResult(samples, fs, used)
    if not used:
        return result
    heard = np.abs(samples[:, used])
    peak = heard.max() if heard.size else 0.0
    if peak <= 0:
        return result
    loud = np.flatnonzero(heard.max(axis=1) >= ONSET_FRACTION * peak)
    onset = int(loud[0])
    result.first_sound = onset / fs
    if options.get("directSoundLevel", 1) == 0:
        result.first_reflection = result.first_sound
        return result
    result.first_direct = result.first_sound
    after = onset + int(options.get("filterLength", 32))
    later = np.flatnonzero(heard[after:].max(axis=1) >= REFLECTION_FRACTION * peak) \
        if after < len(heard) else []
    if len(later):
        result.first_reflection = (after + int(later[0])) / fs
    return result


def render(design, group=0, progress=None, fast=False):
    """Renders emitter group `group` of `design` (a Design, a dict, JSON
    text, or a design file's path as str or os.PathLike) and returns a
    RenderResult. `progress`: None, True (a tqdm bar) or a callable(done,
    total) called every 512 rays. `fast`: fast mode, the same room
    statistically rather than the exact path's bytes, many times quicker
    (docs/fast-mode.md); a design with a height is then traced in 3D
    between its floor and ceiling. A design the engine
    refuses raises DesignRefused before any tracing; Ctrl-C stops the engine
    and raises KeyboardInterrupt. The engine writes a temporary file, which
    is always removed."""
    design = as_design(design)
    group = _check_group(group)
    show, close = _progress_function(progress)
    design.check(group)
    handle, path = tempfile.mkstemp(prefix="zm-render-", suffix=".wav")
    os.close(handle)
    try:
        completed = _trace(design, os.fsencode(path), group, show, fast=bool(fast))
        if not completed:
            raise KeyboardInterrupt("render aborted")
        samples, fs = read_audio(path)
    finally:
        close()
        if os.path.exists(path):
            os.remove(path)
    return _facts(design, samples, fs)


def render_file(design, path, group=0, check=True, fast=False):
    """Renders straight into the engine's WAVE file `path` (replaced only
    when the render succeeds), without reading it back. `check=False` skips
    the check before tracing (the probe rays cost about a third of a small
    render); the engine still refuses what it cannot render, in its own
    words. `fast`: fast mode, as for render()."""
    design = as_design(design)
    group = _check_group(group)
    if check:
        design.check(group)
    if not _trace(design, os.fsencode(path), group, None, fast=bool(fast)):
        raise KeyboardInterrupt("render aborted")


def _frames(array, argument):
    if isinstance(array, (str, bytes)) or not hasattr(array, "__len__"):
        raise TypeError(f"{argument}: expected an array of samples")
    array = np.asarray(array, dtype=np.float64)
    if array.ndim == 1:
        array = array[:, None]
    if array.ndim != 2 or array.shape[1] == 0:
        raise ValueError(f"{argument}: expected frames or frames x channels, got shape "
                         f"{array.shape}")
    return np.ascontiguousarray(array)


def _rate(fs, argument):
    if isinstance(fs, bool) or not isinstance(fs, (int, np.integer)):
        raise TypeError(f"{argument}: expected an integer sample rate")
    if fs <= 0:
        raise ValueError(f"{argument}: the sample rate must be positive, got {fs}")
    return int(fs)


def _pointer(array):
    return array.ctypes.data_as(ctypes.POINTER(ctypes.c_double))


def analyze(ir, fs):
    """The ISO 3382-1 figures of `ir` (frames or frames x channels) as the zm
    tool's analysis JSON: per channel, per band, EDT, T20, T30, C50, C80, D50
    (percent), Ts; figures it cannot measure are None, with the reason in
    "notApplicable"."""
    ir = _frames(ir, "ir")
    fs = _rate(fs, "fs")
    return json.loads(tool_text("zmtool_analyze", _pointer(ir), ir.shape[0], ir.shape[1], fs))


@dataclass
class Auralised:
    samples: np.ndarray  # frames x channels at the dry signal's rate
    fs: int
    gain_db: float       # the gain applied (normalisation to -1 dBFS unless fixed)


def auralise(dry, ir, fs, ir_fs=None, gain_db=None):
    """`dry` (mono or stereo, at `fs`) heard through `ir` (at `ir_fs`,
    default `fs`; resampled when it differs)."""
    dry, ir = _frames(dry, "dry"), _frames(ir, "ir")
    fs = _rate(fs, "fs")
    ir_fs = fs if ir_fs is None else _rate(ir_fs, "ir_fs")
    if dry.shape[1] > 2:
        raise ValueError(f"dry: expected one or two channels, got {dry.shape[1]}")
    gain = ctypes.c_double(gain_db) if gain_db is not None else None
    out = ctypes.POINTER(ctypes.c_double)()
    frames, channels, applied = ctypes.c_size_t(), ctypes.c_int(), ctypes.c_double()
    tool_call("zmtool_auralise", _pointer(dry), dry.shape[0], dry.shape[1], fs, _pointer(ir),
              ir.shape[0], ir.shape[1], ir_fs, ctypes.byref(gain) if gain is not None else None,
              ctypes.byref(out), ctypes.byref(frames), ctypes.byref(channels),
              ctypes.byref(applied))
    try:
        count = frames.value * channels.value
        samples = np.ctypeslib.as_array(out, shape=(max(count, 1),))[:count].copy()
    finally:
        libraries().tool.zmtool_free(out)
    return Auralised(samples.reshape(frames.value, channels.value), fs, applied.value)
