import json
import os

import pytest

SOURCE = os.environ.get("ZM_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))


@pytest.fixture
def studio():
    """The quick-start studio, light enough to render in a moment, as float."""
    with open(os.path.join(SOURCE, "examples", "small-studio.json"), encoding="utf-8") as f:
        design = json.load(f)
    del design["description"]  # a note for readers, not kept in the record
    design["options"]["bitsPerSample"] = 32
    design["options"]["impulseLength"] = 0.3
    design["emitters"][0]["rayCount"] = 2000
    return design
