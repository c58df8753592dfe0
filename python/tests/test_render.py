import os
import signal
import subprocess
import sys
import time

import numpy as np
import pytest

import zm


def test_render_equals_the_file_zm_render_writes(studio, tmp_path):
    design = zm.Design.from_dict(studio)
    design.save(tmp_path / "studio.json")
    subprocess.run([os.environ["ZM_TOOL"], "render", "--quiet", str(tmp_path / "studio.json"),
                    str(tmp_path / "studio.wav")], check=True)
    expected, fs = zm.read_audio(tmp_path / "studio.wav")
    seen = []
    result = zm.render(design, progress=lambda done, total: seen.append((done, total)))
    assert result.fs == fs and np.array_equal(result.samples, expected)
    assert seen[0] == (0, 2000)
    assert result.channels_used == [0, 1]
    assert 0 <= result.first_direct < result.first_reflection < 0.05


def test_fast_mode_keeps_the_exact_paths_promises(studio, tmp_path):
    # The same file as the command's, the same bytes again, progress every
    # 512 rays, and the engine's own refusal in the same words.
    design = zm.Design.from_dict(studio)
    design.save(tmp_path / "studio.json")
    subprocess.run([os.environ["ZM_TOOL"], "render", "--fast", "--quiet",
                    str(tmp_path / "studio.json"), str(tmp_path / "fast.wav")], check=True)
    expected, fs = zm.read_audio(tmp_path / "fast.wav")
    seen = []
    result = zm.render(design, fast=True, progress=lambda done, total: seen.append((done, total)))
    assert result.fs == fs and np.array_equal(result.samples, expected)
    assert seen == [(0, 2000), (512, 2000), (1024, 2000), (1536, 2000)]
    assert 0 <= result.first_direct < result.first_reflection < 0.05
    studio["walls"][-1]["channel"] = 9
    messages = []
    for fast in (False, True):
        with pytest.raises(zm.ZmError) as failure:
            zm.render_file(studio, tmp_path / "refused.wav", check=False, fast=fast)
        messages.append(str(failure.value))
    assert messages[0] == messages[1] and "channel 9" in messages[0]
    assert not (tmp_path / "refused.wav").exists()


def test_refused_design_and_bad_arguments_raise_before_any_work(studio, tmp_path, monkeypatch):
    monkeypatch.setenv("TMPDIR", str(tmp_path))
    import tempfile
    monkeypatch.setattr(tempfile, "tempdir", None)
    studio["walls"][-1]["channel"] = 9
    with pytest.raises(zm.DesignRefused, match=r"walls\[\d+\]\.channel"):
        zm.render(studio)
    with pytest.raises(ValueError, match="group"):
        zm.render(studio, group=64)
    with pytest.raises(TypeError, match="group"):
        zm.render(studio, group="0")
    with pytest.raises(TypeError, match="design"):
        zm.render(3.5)
    with pytest.raises(ValueError, match="ir"):
        zm.analyze(np.zeros((10, 0)), 48000)
    with pytest.raises(TypeError, match="fs"):
        zm.analyze(np.zeros(10), 48000.0)
    assert os.listdir(tmp_path) == []


def test_analyze_and_auralise_use_the_tools_figures():
    fs = 48000
    decay = np.exp(-6.9 * np.arange(fs) / fs * 2)  # T60 = 0.5 s
    ir = 0.2 * np.random.default_rng(1).standard_normal(fs) * decay
    report = zm.analyze(ir, fs)
    assert report["channels"][0]["bands"][0]["t30"] == pytest.approx(0.5, rel=0.05)
    assert zm.analyze(np.zeros(1000), fs)["channels"][0]["silent"]
    clicks = np.zeros(3 * fs)
    clicks[[0, fs]] = 0.5
    heard = zm.auralise(clicks, ir, fs, gain_db=0.0)
    assert heard.gain_db == 0.0
    assert np.allclose(heard.samples[fs:2 * fs, 0], 0.5 * ir, atol=1e-6)


SCRIPT = """
import json, sys, zm
design, fast = json.loads(sys.argv[1]), sys.argv[2] == "fast"
# Fast mode gets through rays many times quicker.
design["emitters"][0]["rayCount"] = 3000000 * (20 if fast else 1)
try:
    zm.render(design, fast=fast,
              progress=lambda d, t: print("started", flush=True) if d == 0 else None)
except KeyboardInterrupt:
    print("interrupted", flush=True)
"""


def test_ctrl_c_aborts_leaves_no_file_and_exits_cleanly(studio, tmp_path):
    # The interrupt lands at different points of the trace; at exit the
    # engine's thread must be done, or the interpreter ends it inside the
    # engine's frames and aborts (exit 134). Run side by side to stay quick.
    import json
    env = dict(os.environ, TMPDIR=str(tmp_path))
    children = [subprocess.Popen([sys.executable, "-c", SCRIPT, json.dumps(studio),
                                  "fast" if i % 2 else "exact"], env=env,
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
                for i in range(8)]
    try:
        for child in children:
            assert child.stdout.readline().strip() == "started"
        for i, child in enumerate(children):
            time.sleep(0.05 * i)
            child.send_signal(signal.SIGINT)
        for child in children:
            out, err = child.communicate(timeout=60)
            assert (child.returncode, out.strip()) == (0, "interrupted"), err
    finally:
        for child in children:  # a failure must not leave renders running
            child.kill()
            child.wait()
    assert os.listdir(tmp_path) == []


def test_a_missing_library_is_named(tmp_path):
    env = dict(os.environ, ZM_LIBRARY_PATH=str(tmp_path))
    run = subprocess.run([sys.executable, "-c", "import zm; zm.catalogue()"], env=env,
                         capture_output=True, text=True)
    assert "LibraryNotFound" in run.stderr and "ZM_LIBRARY_PATH" in run.stderr
