import json
import os
import signal
import subprocess
import sys
import threading
import time

import numpy as np
import pytest

import zm
from zm import dataset

# At 16 kHz the engine renders at 44.1 kHz and the files are resampled; a
# quarter of a second cuts most of these rooms' decay short.
ROOMS = {"seed": 3, "count": 4,
         "room": {"shape": ["shoebox", "l-shape"], "width": {"min": 4, "max": 9},
                  "depth": {"min": 3, "max": 7},
                  "material": {"choice": ["plaster-painted", "brick-unglazed"]}},
         "render": {"rayCount": 400, "impulseLength": 0.25, "sampleRate": 16000}}


def contents(folder):
    """Every file of a dataset folder (hidden ones too) and its bytes."""
    return {name: open(os.path.join(folder, name), "rb").read()
            for name in sorted(os.listdir(folder))}


@pytest.fixture(scope="module")
def reference(tmp_path_factory):
    out = tmp_path_factory.mktemp("reference")
    dataset.generate(ROOMS, out, workers=2, progress=False)
    return contents(out)


def test_an_uninterrupted_run_gives_every_case_once(reference):
    rows = [json.loads(line) for line in reference["metadata.jsonl"].splitlines()]
    assert [r["case"] for r in rows] == [f"case-{i:06d}" for i in range(8)]
    assert {r["shape"] for r in rows} == {"shoebox", "l-shape"}
    assert all(r["file"] in reference and r["seed"] > 0 and "d50_1000" in r for r in rows)
    assert {r["mode"] for r in rows} == {"fast"}


def test_rows_say_what_their_files_hold_and_why_a_value_is_missing(reference, tmp_path):
    rows = [json.loads(line) for line in reference["metadata.jsonl"].splitlines()]
    for row in rows:
        audio = tmp_path / row["file"]
        audio.write_bytes(reference[row["file"]])
        samples, fs = zm.read_audio(audio)
        assert fs == row["sampleRate"] == 16000 and row["renderSampleRate"] == 44100
        # One receiver, one channel, and it sounds.
        assert samples.shape[1] == row["channels"] == 1 and np.abs(samples).max() > 0
        assert all(row[f"{figure}_{band}"] is not None
                   for figure in ("c50", "d50") for band in ("broadband", "1000"))
        # The physical level is one 3 dB step: within half a step.
        assert row["directSoundLevel"] > 1 and abs(row["directSoundErrorDb"][0]) <= 1.5
        missing = {key for key, value in row.items() if value is None}
        assert missing == set(row["reasons"])
        assert "half its sample rate is 8000 Hz" in row["reasons"]["t30_8000"]
    # 0.25 s is too short for these rooms: said, not taken for silence.
    assert any("cut at 0.25 s" in why for row in rows for why in row["reasons"].values())
    assert not any("no sound" in why for row in rows for why in row["reasons"].values())


def test_auto_length_and_direct_sound_follow_the_room(tmp_path):
    base = {"seed": 5, "room": {"width": 6, "depth": 4, "scattering": 0.3},
            "render": {"rayCount": 1000, "sampleRate": 8000}}
    ring = dict(base, room={**base["room"], "t60": [0.4, 30.0]})
    short, long = (dataset.run_case(str(tmp_path), case) for case in dataset.cases(ring))
    assert 0 < long["absorption"] < short["absorption"] < 1
    travel = np.hypot(short["source_x"] - short["receiver_x"],
                      short["source_y"] - short["receiver_y"]) / 344
    assert short["impulseLength"] == pytest.approx(1.2 * short["estimatedT60"] + travel, abs=2e-3)
    assert not short["impulseLengthCapped"] and short["t30_1000"] is not None
    assert long["impulseLength"] == dataset.MAX_IMPULSE_LENGTH and long["impulseLengthCapped"]
    designed = dict(base, render={**base["render"], "directSound": "design",
                                  "impulseLength": 0.2})
    (tmp_path / "designed").mkdir()
    row = dataset.run_case(str(tmp_path / "designed"), dataset.cases(designed)[0])
    assert row["directSoundLevel"] == 1 and row["directSoundErrorDb"][0] < -6


def test_a_t60_is_met_by_the_solved_absorption_or_refused_with_its_case():
    plan = {"count": 3, "room": {"width": {"min": 5, "max": 12}, "depth": 5, "t60": 1.5}}
    # With a height the estimate is three-dimensional and the floor and
    # ceiling take their share: the walls are solved for what is left.
    extruded = {"count": 2, "room": {"width": 8, "depth": 5, "t60": 0.6, "height": 3,
                                     "floor": "carpet-on-concrete", "ceiling": "concrete-floor"}}
    for rooms, t60 in ((plan, 1.5), (extruded, 0.6)):
        for case in dataset.cases(rooms):
            estimate = dataset._estimate(dataset.design_of(case))
            assert dataset._band(estimate, 1000)["eyring"] == pytest.approx(t60, rel=2e-3)
    # Absorbing floor and ceiling alone end the sound sooner than 5 s.
    with pytest.raises(dataset.RoomsError, match=r"case-000000: room.t60 5 s needs a wall "
                                                 r"absorption of -[0-9.]+ .*0 to 1"):
        dataset.cases({"room": {**extruded["room"], "t60": 5, "floor": "carpet-on-foam"}})
    with pytest.raises(dataset.RoomsError, match="case-000001: .*300 s .*air"):
        dataset.cases({"room": {"t60": [1, 300]}})
    with pytest.raises(dataset.RoomsError, match="give one"):
        dataset.cases({"room": {"t60": 1, "material": "brick-unglazed"}})


def test_a_killed_run_rerun_gives_the_same_files_and_table(reference, tmp_path):
    description = tmp_path / "rooms.json"
    description.write_text(json.dumps(ROOMS))
    out = tmp_path / "out"
    command = [sys.executable, "-m", "zm", "dataset", str(description), str(out), "--workers", "1",
               "--quiet"]
    run = subprocess.Popen(command, start_new_session=True)
    while not (out / "case-000002.json").exists() and run.poll() is None:
        time.sleep(0.01)
    if run.poll() is None:
        os.killpg(run.pid, signal.SIGKILL)
    run.wait()
    # A half-written case: audio without metadata, and a stray temporary.
    (out / "case-000005.wav").write_bytes(b"RIFF")
    (out / "..case-000006.123.wav.part.zmtmp-1-0").write_bytes(b"RIFF")
    subprocess.run(command, check=True)
    assert contents(out) == reference


def group_ends(group, seconds=5):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            os.killpg(group, 0)
        except ProcessLookupError:
            return True
        time.sleep(0.05)
    return False


def test_ctrl_c_a_second_run_and_a_killed_parent(tmp_path):
    many = dict(ROOMS, count=50)  # more than a moment's work
    description = tmp_path / "rooms.json"
    description.write_text(json.dumps(many))
    out = tmp_path / "out"

    def start():
        run = subprocess.Popen([sys.executable, "-m", "zm", "dataset", str(description), str(out),
                                "--workers", "2", "--quiet"], start_new_session=True,
                               stderr=subprocess.PIPE, text=True)
        finished = len(os.listdir(out)) if out.exists() else 0
        while (not out.exists() or len(os.listdir(out)) <= finished + 2) and run.poll() is None:
            time.sleep(0.01)
        return run

    run = start()
    with pytest.raises(dataset.FolderInUse, match="in use by another dataset run"):
        dataset.generate(many, out, progress=False)
    # As a terminal's Ctrl-C: to the whole process group.
    os.killpg(run.pid, signal.SIGINT)
    _, errors = run.communicate(timeout=30)
    assert run.returncode == 130 and "interrupted" in errors and "Traceback" not in errors
    assert group_ends(run.pid)
    assert not [name for name in os.listdir(out) if name.endswith(".part")]
    # The parent alone killed: its workers notice and end.
    run = start()
    run.kill()
    run.communicate()
    assert group_ends(run.pid)


def test_a_folder_made_under_the_old_name_resumes(reference, tmp_path):
    for name, data in reference.items():
        if name not in ("metadata.jsonl", "case-000004.json", "case-000004.wav"):
            (tmp_path / (dataset.OLD_DESCRIPTION if name == "rooms.json" else name)).write_bytes(data)
    dataset.generate(ROOMS, tmp_path, workers=1, progress=False)
    assert contents(tmp_path) == reference


def test_a_folder_keeps_the_mode_it_was_made_in(reference, tmp_path):
    for name, data in reference.items():
        if name.startswith("case-000000") or name == "rooms.json":
            (tmp_path / name).write_bytes(data)
    with pytest.raises(dataset.RoomsError, match="made in fast mode.*\"fast\": true"):
        dataset.generate(dict(ROOMS, fast=False), tmp_path, progress=False)
    # A folder from before fast mode names no mode: it was made exactly.
    stored = json.loads(reference["rooms.json"])
    del stored["fast"]
    (tmp_path / "rooms.json").write_text(json.dumps(stored))
    with pytest.raises(dataset.RoomsError, match="made in exact mode"):
        dataset.generate(ROOMS, tmp_path, progress=False)
    assert sorted(os.listdir(tmp_path)) == [".lock", "case-000000.json", "case-000000.wav",
                                            "rooms.json"]


def test_a_description_that_cannot_be_used_is_refused_before_any_work(tmp_path):
    for bad, key in (({"room": {"material": "no-such"}}, "room.material"),
                     ({"room": {"shape": "round"}}, "room.shape"),
                     ({"rooms": {}}, "rooms"),
                     ({"room": {"width": {"min": 5, "max": 1}}}, "room.width"),
                     ({"render": {"sampleRate": 4000}}, "render.sampleRate"),
                     ({"render": {"directSound": "loud"}}, "render.directSound"),
                     ({"fast": "yes"}, "fast"),
                     ({"room": {"height": 3}}, "room.height, room.floor and room.ceiling"),
                     ({"room": {"height": 0, "floor": "carpet", "ceiling": "carpet"}},
                      "room.height"),
                     ({"room": {"height": 3, "floor": "no-such", "ceiling": "carpet"}},
                      "room.floor")):
        with pytest.raises(dataset.RoomsError, match=key):
            dataset.generate(bad, tmp_path / "out", progress=False)
    assert not (tmp_path / "out").exists()


@pytest.fixture(scope="module")
def cluster():
    distributed = pytest.importorskip("distributed")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, host="127.0.0.1",
                                  dashboard_address=None, processes=True) as local, \
            distributed.Client(local) as client:
        yield client


def test_dask_gives_the_same_files_as_the_local_pool(reference, cluster, tmp_path):
    dataset.generate(ROOMS, tmp_path, scheduler=cluster, progress=False)
    assert contents(tmp_path) == reference


def test_a_worker_killed_mid_run_loses_and_duplicates_nothing(reference, cluster, tmp_path):
    pids = cluster.run(os.getpid)
    worker = threading.Thread(target=dataset.generate, args=(ROOMS, tmp_path),
                              kwargs={"scheduler": cluster, "progress": False})
    worker.start()
    while not any(name.endswith(".json") and name.startswith("case")
                  for name in os.listdir(tmp_path)):
        time.sleep(0.005)
    os.kill(next(iter(pids.values())), signal.SIGKILL)
    finished = sum(name.startswith("case") and name.endswith(".json")
                   for name in os.listdir(tmp_path))
    worker.join(timeout=300)
    assert finished < 8  # the kill came mid-run
    assert contents(tmp_path) == reference
