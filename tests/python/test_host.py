# The Python host: console through sys.stdout, errors as OrvelError, TypeError or ValueError,
# a Ctrl-C during a calculation as KeyboardInterrupt with nothing held, handles that free
# themselves, and a quiet exit.
import os
import subprocess
import sys
import time

import numpy as np
import pytest

import orvel
from conftest import bytes_reserved, run_python


def test_console_goes_to_python_stdout_and_nothing_to_the_c_one():
    status, out, err = run_python(
        "import io, sys, orvel\n"
        "keep, sys.stdout = sys.stdout, io.StringIO()\n"
        "orvel.orvel_init(-1); orvel.orvel_info(); orvel.orvel_end()\n"
        "text, sys.stdout = sys.stdout.getvalue(), keep\n"
        "assert 'Speed of sound' in text, text\n")
    assert status == 0, err
    assert out == "" and err == ""


def test_bad_input_is_refused_with_a_clear_error(system):
    Th = orvel.xdc_linear_array(4, 0.3e-3, 5e-3, 0.05e-3, 1, 1, [0, 0, 0.03])
    with pytest.raises(ValueError, match=r"calc_h: points .*3 x 5.*transpose"):
        orvel.calc_h(Th, np.zeros((3, 5)))
    with pytest.raises(ValueError, match="calc_scat: amplitudes"):
        orvel.calc_scat(Th, Th, np.zeros((2, 3)) + 0.02, [1.0, 2.0, 3.0])
    with pytest.raises(TypeError):
        orvel.calc_h(Th, np.zeros((1, 3), dtype=complex))
    with pytest.raises(TypeError):
        orvel.set_option("c", True)
    with pytest.raises(orvel.OrvelError, match="finite"):
        orvel.calc_h(Th, [[0.0, np.nan, 0.02]])
    # An unknown option is refused before the module, which would not list the known ones.
    with pytest.raises(ValueError) as refused:
        orvel.set_option("no_such_option", 1.0)
    assert str(refused.value) == (
        "set_option: name must be one of c, fs, use_att, att, freq_att, att_f0, tau_m, z, "
        "BdivA, dz, rho, debug, accurate_time_calc, fast_integration, show_times, use_rectangles, "
        "use_triangles, use_lines, threads (in any case), but is 'no_such_option'")
    # The extension itself: an int beyond every float, more results than a command gives.
    with pytest.raises(ValueError, match="argument 1: the int is too large for a float"):
        orvel._orvel.call(5020, 10 ** 400, nout=0)
    with pytest.raises(ValueError, match="nout must be 0, 1 or 2"):
        orvel._orvel.call(5051, nout=10 ** 9)
    # Lists and ints are numbers as well, in C and Fortran order alike.
    points = np.asfortranarray([[0.0, 0.0, 0.02], [0.001, 0.0, 0.03]])
    a, ta = orvel.calc_h(Th, points)
    b, tb = orvel.calc_h(int(Th), points.tolist())
    assert np.array_equal(a, b) and ta == tb and a.shape[1] == 2


def test_ctrl_c_stops_a_calculation_and_keeps_nothing(system, capsys):
    Th = orvel.xdc_linear_array(128, 0.3e-3, 5e-3, 0.05e-3, 4, 10, [0, 0, 0.03])
    held = bytes_reserved(capsys)
    # A million scatterers: some 100 s on two cores, still seconds on many.
    n = 1_000_000
    rng = np.random.default_rng(1)
    points = np.column_stack([rng.uniform(-0.01, 0.01, n), np.zeros(n),
                              rng.uniform(0.02, 0.06, n)])
    subprocess.Popen(["sh", "-c", f"sleep 1; kill -INT {os.getpid()}"])
    finished = False
    with pytest.raises(KeyboardInterrupt):
        orvel.calc_scat(Th, Th, points, np.ones(n))
        finished = True  # the calculation must still run when the signal comes
        time.sleep(30)
    assert not finished
    assert bytes_reserved(capsys) == held
    assert orvel.calc_scat(Th, Th, points[:2], [1.0, 1.0])[0].size > 0


def test_apertures_print_what_they_are_and_free_themselves(system, capsys):
    with orvel.xdc_piston(5e-3, 1e-3) as piston:
        assert "xdc_piston" in repr(piston)
        assert orvel.calc_h(piston, [0.0, 0.0, 0.02])[0].size > 0
    assert "freed" in repr(piston)
    with pytest.raises(orvel.OrvelError, match="freed"):
        orvel.calc_h(piston, [0.0, 0.0, 0.02])
    assert bytes_reserved(capsys) == 0


def test_type_names_and_time_line_tables_are_checked_before_the_module(system, capsys):
    Th = orvel.xdc_linear_array(4, 0.3e-3, 5e-3, 0.05e-3, 1, 1, [0, 0, 0.03])

    def state():
        capsys.readouterr()
        orvel.orvel_info()
        return orvel.xdc_get(Th, "focus"), orvel.xdc_get(Th, "apod"), capsys.readouterr().out

    before = state()
    with pytest.raises(ValueError) as refused:
        orvel.xdc_get(Th, "foo")
    assert str(refused.value) == ("xdc_get: info_type must be 'rect', 'tri', 'lin', 'focus' or "
                                  "'apod' (or a number from 1 to 5), but is 'foo'")
    assert orvel.xdc_get(Th, 7).size == 0  # a number that is no type gives nothing
    orvel.set_option("BDIVA", 5.2)  # the default, known in any case
    # Th has 4 physical elements; a 1-D table is one row.
    with pytest.raises(ValueError) as refused:
        orvel.xdc_apodization(Th, 0.0, np.ones((1, 3)))
    assert str(refused.value) == ("xdc_apodization: apo must have one column per physical "
                                  "element: 4 expected, 3 received")
    with pytest.raises(ValueError) as refused:
        orvel.xdc_focus_delays(Th, 0.0, np.zeros(5))
    assert str(refused.value) == ("xdc_focus_delays: delays must have one column per physical "
                                  "element: 4 expected, 5 received")
    after = state()
    assert all(np.array_equal(a, b) for a, b in zip(before[:2], after[:2]))
    assert before[2] == after[2]


def test_a_freed_aperture_never_stands_for_a_later_one_in_its_slot(system):
    point = [0.0, 0.0, 0.02]
    with orvel.xdc_linear_array(4, 0.3e-3, 5e-3, 0.05e-3, 1, 1, [0, 0, 0.03]) as first:
        orvel.xdc_free(int(first))
        second = orvel.xdc_piston(5e-3, 1e-3)
        assert second.handle == first.handle  # the freed slot is reused
        assert first.freed and not second.freed
        for act in (lambda: orvel.calc_h(first, point), lambda: int(first), first.free):
            with pytest.raises(orvel.OrvelError, match="freed"):
                act()
    # Leaving the block freed nothing: the slot, as a plain int, still holds the piston.
    assert not second.freed
    assert orvel.calc_h(second.handle, point)[0].shape[1] == 1
    # orvel_end and a new initialisation free every aperture made before.
    orvel.orvel_end()
    orvel.orvel_init(-1)
    third = orvel.xdc_piston(5e-3, 1e-3)
    assert third.handle == second.handle and second.freed and not third.freed
    with pytest.raises(orvel.OrvelError, match="freed"):
        orvel.xdc_free(second)
    assert orvel.calc_h(third, point)[0].shape[1] == 1


def test_import_twice_and_exit_without_noise():
    status, out, err = run_python(
        "import importlib, orvel\n"
        "importlib.reload(orvel)\n"
        "import orvel as again\n"
        "again.orvel_init(-1)\n"
        "again.xdc_linear_array(4, 0.3e-3, 5e-3, 0.05e-3, 1, 1, [0, 0, 0.03])\n")
    assert status == 0, err
    assert out == "" and err == ""
