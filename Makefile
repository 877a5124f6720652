# The two commands of a fresh machine: `make test` and `make demo`. Both install what is
# missing (Debian packages, as root or through sudo), configure, build and run.
BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
PACKAGES   := cmake g++ make libgtest-dev libfftw3-dev octave liboctave-dev \
              python3-dev python3-pybind11 python3-numpy python3-pytest \
              python3-distributed python3-matplotlib python3-nbclient python3-ipykernel \
              python3-h5py python3-scipy python3-zarr
DEMO_PACKAGES := gnuplot-nox fonts-freefont-otf
# pip, its build backend and virtual environments, for the wheel's test.
WHEEL_PACKAGES := python3-pip python3-setuptools python3-wheel python3-venv
# Debian's Python, which the packages above serve (another python3 may come first on the PATH).
PYTHON     ?= /usr/bin/python3
SUDO       := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: all deps demo-deps build test unit-asan unit-tsan fuzz fuzz-python demo demo-3d bench \
        clean octave-package

all: build

# Debian packages in $(1) that are not installed yet are installed.
define install_missing
	@missing=""; \
	for p in $(1); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y --no-install-recommends $$missing; \
	fi
endef

deps:
	$(call install_missing,$(PACKAGES))

# The demo's pictures: gnuplot without X, and fonts for its cairo terminal.
demo-deps:
	$(call install_missing,$(DEMO_PACKAGES))

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPython_EXECUTABLE=$(PYTHON)
	cmake --build $(BUILD) -j $(JOBS)

# Unit tests again under the address and undefined-behaviour sanitizers.
unit-asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DORVEL_SANITIZE=ON -DORVEL_BUILD_MEX=OFF \
	  -DORVEL_BUILD_PYTHON=OFF -DORVEL_BUILD_BENCH=OFF
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS)

# Unit tests again under the thread sanitizer (optimised, so that the long cases stay short).
unit-tsan: deps
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVEL_TSAN=ON -DORVEL_BUILD_MEX=OFF \
	  -DORVEL_BUILD_PYTHON=OFF -DORVEL_BUILD_BENCH=OFF
	cmake --build $(TSAN_BUILD) -j $(JOBS)
	cd $(TSAN_BUILD) && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j $(JOBS)

# A long fuzz run in the sanitizer build: random and mutated command sequences through the
# embedded host (tests/fuzz); prints every finding with its reproducer, the calls run and the time.
FUZZ_CALLS ?= 100000
FUZZ_SEED  ?= 1
fuzz: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DORVEL_SANITIZE=ON -DORVEL_BUILD_MEX=OFF \
	  -DORVEL_BUILD_PYTHON=OFF -DORVEL_BUILD_BENCH=OFF
	cmake --build $(ASAN_BUILD) -j $(JOBS) --target orvel_fuzz
	$(ASAN_BUILD)/orvel_fuzz --calls $(FUZZ_CALLS) --seed $(FUZZ_SEED) --slow 30 --hang 120

# The Python package's fuzz (tests/fuzz/fuzz_python.py) with the extension built under the
# address and undefined-behaviour sanitizers and their runtime preloaded into Debian's python
# (not built with them): random and mutated calls of every function of orvel and
# orvel.imaging; prints every finding with its reproducer, the calls run and the time. The
# interpreter's own allocations are never freed at exit, so leaks are not checked; a request
# beyond the sanitizer's cap fails (numpy then raises MemoryError) instead of ending the run.
fuzz-python: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DORVEL_SANITIZE=ON -DORVEL_BUILD_MEX=OFF \
	  -DORVEL_BUILD_PYTHON=ON -DORVEL_BUILD_BENCH=OFF -DPython_EXECUTABLE=$(PYTHON)
	cmake --build $(ASAN_BUILD) -j $(JOBS) --target orvel_python
	PYTHONPATH=$(ASAN_BUILD)/python \
	LD_PRELOAD="$$(gcc -print-file-name=libasan.so) $$(gcc -print-file-name=libubsan.so)" \
	ASAN_OPTIONS=detect_leaks=0:max_allocation_size_mb=2048:allocator_may_return_null=1:hard_rss_limit_mb=6144 \
	UBSAN_OPTIONS=print_stacktrace=1 \
	  $(PYTHON) tests/fuzz/fuzz_python.py --calls $(FUZZ_CALLS) --seed $(FUZZ_SEED) --slow 30 \
	  --hang 120

# The Python package as a user installs it (tests/packaging): pip builds the wheel through CMake
# (python/pyproject.toml, offline, the extension alone), installs it into a new virtual
# environment and runs it outside the tree; it must compute what the build above computes.
.PHONY: wheel-test
wheel-test: build
	$(call install_missing,$(WHEEL_PACKAGES))
	CMAKE_BUILD_PARALLEL_LEVEL=$(JOBS) ORVEL_INTREE="$(CURDIR)/$(BUILD)/python" \
	  $(PYTHON) -m pytest -q -p no:cacheprovider --confcutdir=tests/packaging tests/packaging

test: build unit-asan unit-tsan wheel-test
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The Octave package $(BUILD)/orvel-<version>.tar.gz, for `pkg install` and `pkg load orvel`:
# the script layer, the imaging toolkit, the examples and the module built here (so for this
# platform only). Its install test (ctest octave_package_install) runs in `make test`.
octave-package: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPython_EXECUTABLE=$(PYTHON)
	cmake --build $(BUILD) -j $(JOBS) --target octave_package

# Writes orvel_field.png, orvel_scatterers.png, orvel_nonlinear.png, orvel_sector.png,
# orvel_convex.png and orvel_doppler_spectrum.png into $(BUILD), and from Python
# orvel_field_python.png, orvel_cyst_python.png, orvel_apertures_python.png and
# orvel_doppler_python.png.
demo: build demo-deps
	cd $(BUILD) && for example in demo nonlinear sector convex doppler; do \
	  octave-cli --no-gui --norc --no-history --quiet \
	    --path "$(CURDIR)/$(BUILD)" --path "$(CURDIR)/octave" --path "$(CURDIR)/octave/imaging" \
	    "$(CURDIR)/octave/examples/$$example.m" < /dev/null || exit 1; \
	done
	cd $(BUILD) && for example in field cyst apertures doppler; do \
	  PYTHONPATH="$(CURDIR)/$(BUILD)/python" $(PYTHON) "$(CURDIR)/python/examples/$$example.py" \
	    || exit 1; \
	done

# Volumes from 2-D arrays: writes orvel_sector3d.png (a pyramidal sector scan of focused lines
# through scan_convert_3d) into $(BUILD), and from Python orvel_volume_python.png (plane waves
# steered in two angles, beamformed on an x-y-z grid). About a minute and a half on two cores.
demo-3d: build demo-deps
	cd $(BUILD) && octave-cli --no-gui --norc --no-history --quiet \
	  --path "$(CURDIR)/$(BUILD)" --path "$(CURDIR)/octave" --path "$(CURDIR)/octave/imaging" \
	  "$(CURDIR)/octave/examples/sector3d.m" < /dev/null
	cd $(BUILD) && PYTHONPATH="$(CURDIR)/$(BUILD)/python" $(PYTHON) \
	  "$(CURDIR)/python/examples/volume.py"

# Timings (not tests): the drivers alone, the commands through the module in Octave, an image
# simulation on one and two local Dask workers, image formation (core against numpy), then a
# colour-flow ensemble (its simulation and its Doppler processing).
bench: build
	$(BUILD)/bench/orvel_drivers_bench
	cd $(BUILD) && for script in field_linear_array field_map_million scat_linear_array; do \
	  octave-cli --no-gui --norc --no-history --quiet \
	    --path "$(CURDIR)/$(BUILD)" --path "$(CURDIR)/octave" --path "$(CURDIR)/bench" \
	    "$(CURDIR)/bench/$$script.m" < /dev/null || exit 1; \
	done
	PYTHONPATH=$(BUILD)/python $(PYTHON) bench/distributed_cyst.py
	PYTHONPATH=$(BUILD)/python $(PYTHON) bench/das_planewave.py
	PYTHONPATH=$(BUILD)/python $(PYTHON) bench/doppler_ensemble.py

# The scale measurements (about 5 minutes): a million-scatterer 3-D scan written by two local
# workers into a Zarr store and beamformed there, with the figures of the scale model.
.PHONY: bench-3d
bench-3d: build
	PYTHONPATH=$(BUILD)/python $(PYTHON) bench/distributed_volume.py --folder $(BUILD)/volume

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) python/build python/orvel.egg-info
