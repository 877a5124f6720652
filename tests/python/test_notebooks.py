# The notebooks of python/notebooks: each runs to its end, headless, in a fresh python3 kernel
# started with this process's environment (so the package of PYTHONPATH) in a temporary folder,
# and shows a picture; the committed files carry no outputs.
import os
import sys
from pathlib import Path

import nbformat
import pytest
from nbclient import NotebookClient

import orvel

NOTEBOOK_DIR = Path(__file__).resolve().parents[2] / "python" / "notebooks"
NOTEBOOKS = sorted(NOTEBOOK_DIR.glob("*.ipynb"))
# Run after a notebook's own cells: the interpreter and the package its kernel had.
PROBE = "import sys, orvel\nprint(sys.executable)\nprint(orvel.__file__)"


def test_notebooks_are_stripped():
    assert {"field_map.ipynb", "cyst_planewave.ipynb"} <= {p.name for p in NOTEBOOKS}
    for path in NOTEBOOKS:
        nb = nbformat.read(path, as_version=4)
        nbformat.validate(nb)
        assert set(nb.metadata) <= {"kernelspec", "language_info"}, path.name
        assert nb.metadata.kernelspec.name == "python3", path.name
        for cell in nb.cells:
            assert cell.metadata == {}, (path.name, cell.id)
            if cell.cell_type == "code":
                assert cell.outputs == [], (path.name, cell.id)
                assert cell.execution_count is None, (path.name, cell.id)


@pytest.mark.parametrize("path", NOTEBOOKS, ids=lambda p: p.stem)
def test_notebook_runs(path, tmp_path, monkeypatch):
    # The kernel works in tmp_path, where a relative PYTHONPATH would name nothing.
    entries = os.environ.get("PYTHONPATH", "").split(os.pathsep)
    monkeypatch.setenv("PYTHONPATH", os.pathsep.join(os.path.abspath(p) for p in entries if p))
    # The kernel's own files (connection file, IPython profile) out of the home folder, and its
    # matplotlib on the inline backend, which shows pictures as outputs.
    monkeypatch.setenv("JUPYTER_RUNTIME_DIR", str(tmp_path / "runtime"))
    monkeypatch.setenv("IPYTHONDIR", str(tmp_path / "ipython"))
    monkeypatch.delenv("MPLBACKEND", raising=False)
    work = tmp_path / "work"
    work.mkdir()

    nb = nbformat.read(path, as_version=4)
    nb.cells.append(nbformat.v4.new_code_cell(PROBE))
    # Raises CellExecutionError, with the cell and its traceback, at the first failing cell.
    NotebookClient(nb, timeout=300, resources={"metadata": {"path": str(work)}}).execute()

    outputs = [o for cell in nb.cells[:-1] if cell.cell_type == "code" for o in cell.outputs]
    assert any("image/png" in o.get("data", {}) for o in outputs), "no picture shown"
    probe = "".join(o.text for o in nb.cells[-1].outputs if o.get("name") == "stdout")
    executable, package = probe.split()
    assert os.path.realpath(executable) == os.path.realpath(sys.executable)
    assert Path(package).resolve() == Path(orvel.__file__).resolve()
