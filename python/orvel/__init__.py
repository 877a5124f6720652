"""Orvel: ultrasound fields and echoes by the spatial impulse response method.

Orvel computes what a transducer emits into a homogeneous medium and what it receives back:
spatial impulse responses, emitted and pulse-echo fields, and the received signals of point
scatterers, for pistons and for linear, convex, multi-row and 2-D arrays with focusing,
apodization and attenuation. The commands are those of Orvel's Octave scripts, with the same
names, arguments and help texts. Matrices are numpy arrays (points of shape (n, 3)), the
constructors return an Aperture, and the simulator's refusals raise orvel.OrvelError.

Example::

    import numpy as np, orvel
    orvel.orvel_init(-1)
    th = orvel.xdc_linear_array(64, 0.28e-3, 5e-3, 0.03e-3, 1, 10, [0, 0, 30e-3])
    points = np.column_stack([np.zeros(5), np.zeros(5), np.linspace(10e-3, 50e-3, 5)])
    hp, start_time = orvel.calc_hp(th, points)  # hp has shape (samples, 5)
    orvel.orvel_end()
"""
import inspect as _inspect

from . import _commands
from ._version import __version__  # written by the build from the file VERSION
from ._commands import *  # noqa: F401,F403 (the commands, listed in _commands.__all__)
from ._commands import Aperture, OrvelError

__all__ = ["Aperture", "OrvelError"] + _commands.__all__

try:
    from ._help import HELP as _HELP
except ImportError:  # help texts not generated (running from the source tree)
    _HELP = {}

# Help is written once, in the Octave scripts; make_help.py turns it into _help.py.
for _name in _commands.__all__:
    _f = getattr(_commands, _name)
    _f.__doc__ = _HELP.get(_name) or "Orvel command %s%s." % (_name, _inspect.signature(_f))
if "orvel" in _HELP:
    __doc__ += "\nOverview\n\n" + _HELP["orvel"].split("\n", 1)[1].lstrip("\n")
del _name, _f
