"""The wheel's build: the project's CMake builds the extension orvel._orvel and the modules it
generates (_help.py from the Octave scripts' help, _version.py from the file VERSION) for the
Python that runs this build; setuptools packs them with the package's own files.

Only the Python extension is built (no Octave module, no tests, no benchmarks), at the tested
build's optimisation (-O2) without debug information. The CMake build directory lies in
setuptools' build/temp.* beside this file, so a second build only recompiles what changed.
CMAKE_BUILD_PARALLEL_LEVEL sets the compile jobs (default: every core this process may use).
"""
import os
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
GENERATED = ("_help.py", "_version.py")  # beside the extension in CMake's package directory


def version():
    with open(os.path.join(ROOT, "VERSION"), encoding="ascii") as f:
        return f.readline().strip()


class cmake_build_ext(build_ext):
    def build_extension(self, ext):
        build = os.path.join(os.path.abspath(self.build_temp), "cmake")
        configure = [
            "cmake", "-S", ROOT, "-B", build,
            "-DCMAKE_BUILD_TYPE=Release", "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG",
            "-DORVEL_BUILD_PYTHON=ON", "-DORVEL_BUILD_MEX=OFF", "-DORVEL_BUILD_TESTS=OFF",
            "-DORVEL_BUILD_BENCH=OFF", "-DPython_EXECUTABLE=" + sys.executable,
        ]
        try:  # the pybind11 of the Python that builds, when it has one
            import pybind11
            configure.append("-Dpybind11_DIR=" + pybind11.get_cmake_dir())
        except ImportError:
            pass
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(len(os.sched_getaffinity(0)))
        subprocess.run(configure, check=True)
        subprocess.run(["cmake", "--build", build, "--target", "orvel_python", "-j", jobs],
                       check=True)

        package = os.path.join(build, "python", "orvel")
        target = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(os.path.join(package, os.path.basename(target)), target)
        for name in GENERATED:
            shutil.copyfile(os.path.join(package, name),
                            os.path.join(os.path.dirname(target), name))


setup(
    version=version(),
    ext_modules=[Extension("orvel._orvel", sources=[])],
    cmdclass={"build_ext": cmake_build_ext},
)
