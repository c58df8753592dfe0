import json
import os
import subprocess
import sys

import pytest

import zm


def test_dict_to_record_to_json_gives_the_dict_back(studio):
    design = zm.Design.from_dict(studio)
    assert design.to_dict() == studio
    assert zm.Design.from_json(design.to_json()) == design


def test_design_and_material_files_round_trip_through_the_engine(studio, tmp_path):
    design = zm.Design.from_dict(studio)
    design.save(tmp_path / "studio.zmd")
    assert open(tmp_path / "studio.zmd", "rb").read(3) == b"ZMD"
    assert zm.Design.load(tmp_path / "studio.zmd") == design
    design.save(tmp_path / "studio.json")
    assert zm.Design.load(tmp_path / "studio.json") == design

    brick = zm.Material.from_catalogue("brick-unglazed", scattering=0.1)
    brick.save(tmp_path / "brick.zmm")
    assert zm.Material.load(tmp_path / "brick.zmm") == brick
    # A design may name the file; it is found beside the design.
    studio["materials"].append({"name": "Brick", "file": "brick.zmm"})
    (tmp_path / "walls.json").write_text(json.dumps(studio))
    loaded = zm.Design.load(tmp_path / "walls.json").to_dict()
    assert loaded["materials"][-1]["reflection"] == brick.to_dict()["reflection"]


def test_materials_from_absorption_and_the_catalogue():
    flat = zm.Material.from_absorption("Flat", [0.2] * 6).to_dict()
    assert flat["reflection"] == pytest.approx(0.8 ** 0.5)
    entries = zm.catalogue("brick")
    assert entries and all("brick" in (e["id"] + e["name"]).lower() for e in entries)


def test_bad_documents_and_arguments_raise_clear_errors(studio, tmp_path):
    studio["emitters"][0]["rayCout"] = 5
    with pytest.raises(zm.ZmError, match="rayCout"):
        zm.Design.from_dict(studio)
    with pytest.raises(zm.ZmError, match="no-such-material"):
        zm.Material.from_catalogue("no-such-material")
    with pytest.raises(TypeError, match="text"):
        zm.Design.from_json(42)
    with pytest.raises(TypeError, match="entry"):
        zm.Material.from_catalogue(3)
    with pytest.raises(FileNotFoundError):
        zm.Design.load(tmp_path / "missing.zmd")
    # A failed save leaves nothing behind.
    with pytest.raises(zm.ZmError):
        zm.Design().save(tmp_path / "no-folder" / "x.zmd")
    assert os.listdir(tmp_path) == []


def test_a_library_built_with_other_figures_is_refused():
    # As if the package expected a larger design record than libzmtool states.
    code = ("import zm._library as library; library._EXPECTED['designRecordSize'] = 33800; "
            "import zm; zm.catalogue()")
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert run.returncode != 0
    assert "LibraryNotFound" in run.stderr
    assert "designRecordSize 33796 (this package: 33800)" in run.stderr
