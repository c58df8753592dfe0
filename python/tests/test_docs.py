import os
import re

import pytest

PAGE = os.path.join(os.environ.get("ZM_SOURCE_DIR", os.path.join(os.path.dirname(__file__),
                                                                   "..", "..")),
                    "docs", "python.md")


def test_the_python_page_runs_as_written(tmp_path, monkeypatch):
    """Every Python block of the page, in order, in one namespace; the
    dataset is made smaller through its ZM_ROOMS parameter."""
    pytest.importorskip("matplotlib")
    with open(PAGE, encoding="utf-8") as page:
        blocks = re.findall(r"```python\n(.*?)```", page.read(), re.S)
    assert len(blocks) == 4
    monkeypatch.chdir(tmp_path)
    monkeypatch.setenv("ZM_ROOMS", "4")
    namespace = {}
    for block in blocks:
        exec(compile(block, PAGE, "exec"), namespace)
    assert (tmp_path / "room-ir.png").stat().st_size > 10000
    assert (tmp_path / "claps-in-the-room.wav").exists()
    assert len((tmp_path / "rooms" / "metadata.jsonl").read_text().splitlines()) == 4
