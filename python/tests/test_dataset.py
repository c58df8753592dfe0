import json
import os
import signal
import subprocess
import sys
import threading
import time

import pytest

from zm import dataset

ROOMS = {"seed": 3, "count": 4,
        "room": {"shape": ["shoebox", "l-shape"], "width": {"min": 4, "max": 9},
                 "depth": {"min": 3, "max": 7},
                 "material": {"choice": ["plaster-painted", "brick-unglazed"]}},
        "render": {"rayCount": 400, "impulseLength": 0.25}}


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


def test_a_description_that_cannot_be_used_is_refused_before_any_work(tmp_path):
    for bad, key in (({"room": {"material": "no-such"}}, "room.material"),
                     ({"room": {"shape": "round"}}, "room.shape"),
                     ({"rooms": {}}, "rooms"),
                     ({"room": {"width": {"min": 5, "max": 1}}}, "room.width")):
        with pytest.raises(dataset.SpecError, match=key):
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
