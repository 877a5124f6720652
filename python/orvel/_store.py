"""The chunked store of orvel.distributed: a Zarr group (directory layout, chunks not
compressed, so that Octave reads them with fread) that the tasks write where they run.

Layout of a store folder:
    .zgroup, .zattrs   attrs["orvel"]: format, fingerprint of the run (description and
                       phantom), complete (false until the last write), and once complete
                       kind, t0, fs, shape
    rf/                the RF as simulate returns it, float64, column-major chunks of one step
                       (one line, one transmit, one firing), split into element blocks when a
                       step exceeds _CHUNK_BYTES
    _steps/            during a run: each step's summed chunks, step_NNNNNN.npy and its start
                       time in step_NNNNNN.json (written last, so that its presence means the
                       step is complete); a run over a store of the same run reuses them
    image/             the image of beamform(), chunks of one image block, and its attrs

Every file is written under a temporary name and renamed, so a reader (or a worker killed
while writing) never leaves half a file under a real name; a task run twice writes the same
bytes twice.
"""
import hashlib
import json
import os
import shutil

import numpy as np

FORMAT = "orvel.store/1"
_FN = "orvel.distributed"
_CHUNK_BYTES = 64 << 20


def zarr():
    try:
        import zarr as z
    except ImportError:
        raise ValueError("%s: a store needs the zarr package (Debian: python3-zarr)"
                         % _FN) from None
    return z


# ---- Identity of a run ------------------------------------------------------------------------

def _hash_value(h, v):
    if isinstance(v, np.ndarray):
        h.update(str((v.dtype.str, v.shape)).encode())
        h.update(np.ascontiguousarray(v).tobytes())
    elif isinstance(v, dict):
        for k in sorted(v):
            h.update(repr(k).encode())
            _hash_value(h, v[k])
    elif isinstance(v, (list, tuple)):
        h.update(b"[")
        for x in v:
            _hash_value(h, x)
        h.update(b"]")
    else:
        h.update(repr(v).encode())


def fingerprint(desc, phantom):
    """A digest of everything that fixes a run's RF: the description and the phantom (its
    values, or for a file its absolute name, size and modification time)."""
    h = hashlib.sha256(json.dumps(desc, sort_keys=True).encode())
    if isinstance(phantom, str):
        st = os.stat(phantom)
        _hash_value(h, ("file", phantom, st.st_size, st.st_mtime_ns))
    else:
        _hash_value(h, phantom)
    return h.hexdigest()


# ---- Reading and writing files atomically ----------------------------------------------------

def _tmp(path):
    head, tail = os.path.split(path)
    return os.path.join(head, ".%s-%s.part" % (tail, os.urandom(4).hex()))


def _write_json(path, value):
    tmp = _tmp(path)
    with open(tmp, "w") as f:
        json.dump(value, f)
    os.replace(tmp, path)


def _write_npy(path, a):
    tmp = _tmp(path)
    with open(tmp, "wb") as f:
        np.lib.format.write_array(f, a, allow_pickle=False)
    os.replace(tmp, path)


def info(path):
    """The store's attrs["orvel"], or None when path is not an Orvel store."""
    try:
        with open(os.path.join(path, ".zattrs")) as f:
            attrs = json.load(f).get("orvel")
    except (OSError, ValueError, AttributeError):
        return None
    if not isinstance(attrs, dict) or attrs.get("format") != FORMAT:
        return None
    return attrs


def set_info(path, attrs):
    zarr().open_group(path, mode="r+").attrs["orvel"] = attrs


# ---- On the client, before any task -----------------------------------------------------------

def check_path(path, digest, overwrite):
    """Refuses a path where no store can go, or an existing store of another run; returns the
    absolute path and whether a store of this same run is there (its finished steps are
    reused). Changes nothing."""
    if not isinstance(path, str) or not path:
        raise ValueError("%s: store must be the name of a folder, but is %r" % (_FN, path))
    path = os.path.abspath(path)
    parent = os.path.dirname(path)
    if not os.path.isdir(parent):
        raise ValueError("%s: the store's parent folder %s does not exist" % (_FN, parent))
    if os.path.exists(path) and not os.path.isdir(path):
        raise ValueError("%s: the store %s is a file, not a folder" % (_FN, path))
    if not os.access(parent if not os.path.exists(path) else path, os.W_OK | os.X_OK):
        raise ValueError("%s: the store %s cannot be written (no permission)" % (_FN, path))
    if not os.path.isdir(path) or not os.listdir(path):
        return path, False
    attrs = info(path)
    if attrs is None:
        raise ValueError("%s: %s is a folder that holds files but no Orvel store; nothing is "
                         "written there (give a new or empty folder)" % (_FN, path))
    if attrs.get("fingerprint") == digest:
        return path, True
    if overwrite:
        return path, False
    raise ValueError("%s: the store %s holds the result of another run (another description "
                     "or phantom); give another folder, or overwrite=True to replace it"
                     % (_FN, path))


def create(path, digest, desc, reuse):
    """Makes the store of a run (or keeps the steps of the same run's store) and returns a
    token that each worker must read back from it (reach())."""
    z = zarr()
    token = os.urandom(8).hex()
    if not reuse and os.path.isdir(path) and os.listdir(path):
        shutil.rmtree(path)  # an Orvel store, of another run, with overwrite
    group = z.open_group(path, mode="a")
    for name in ("rf", "image"):
        if name in group:
            del group[name]
    os.makedirs(os.path.join(path, "_steps"), exist_ok=True)
    group.attrs["orvel"] = {"format": FORMAT, "fingerprint": digest, "complete": False,
                            "token": token, "steps": len(desc["sequence"])}
    return token


def reach(path, token):
    """Run on a worker: True when it sees the store just made (same token)."""
    attrs = info(path)
    return attrs is not None and attrs.get("token") == token


def staged(path, k):
    """Step k's start record ({"start", "fs", "shape"}, or {"start": None} when no scatterer
    was in its window), or None when the step is not finished."""
    try:
        with open(os.path.join(path, "_steps", "step_%06d.json" % k)) as f:
            return json.load(f)
    except (OSError, ValueError):
        return None


# ---- In a task ----------------------------------------------------------------------------------

def stage(path, k, placed):
    """Writes step k's summed RF ((rf, start, fs) or None); returns its small record."""
    base = os.path.join(path, "_steps", "step_%06d" % k)
    if placed is None:
        record = {"start": None}
    else:
        rf, start, fs = placed
        _write_npy(base + ".npy", np.asarray(rf, dtype=float))
        record = {"start": start, "fs": fs, "shape": list(rf.shape)}
    _write_json(base + ".json", record)
    return record


def place(path, k, offset, where):
    """Copies step k's staged RF into the result array at row offset and the step's place
    `where` along the last axes; returns the bytes written."""
    rf = np.load(os.path.join(path, "_steps", "step_%06d.npy" % k))
    out = zarr().open_array(os.path.join(path, "rf"), mode="r+")
    rows = slice(offset, offset + rf.shape[0])
    if out.ndim == 1 + len(where):  # lines: no element axis
        out[(rows,) + tuple(where)] = rf[:, 0]
    else:
        out[(rows, slice(0, rf.shape[1])) + tuple(where)] = rf
    return rf.nbytes


# ---- Finishing -------------------------------------------------------------------------------

def result_array(path, shape, kind):
    """Creates the empty result array (zeros where nothing is written): lines without an
    element axis, each chunk one step (and one element block)."""
    if kind == "line":
        shape = (shape[0],) + tuple(shape[2:])
        chunks = (shape[0],) + (1,) * (len(shape) - 1)
    else:
        per_column = max(1, shape[0] * 8)
        block = int(min(shape[1], max(1, _CHUNK_BYTES // per_column)))
        chunks = (shape[0], block) + (1,) * (len(shape) - 2)
    zarr().open_group(path, mode="r+").create_dataset(
        "rf", shape=shape, chunks=chunks, dtype="<f8", order="F", compressor=None,
        fill_value=0.0, overwrite=True)
    return shape


def finish(path, attrs):
    shutil.rmtree(os.path.join(path, "_steps"), ignore_errors=True)
    set_info(path, attrs)


def image_array(path, shape, chunks):
    zarr().open_group(path, mode="r+").create_dataset(
        "image", shape=shape, chunks=chunks, dtype="<f8", order="F", compressor=None,
        fill_value=0.0, overwrite=True)


def write_image(path, where, block):
    zarr().open_array(os.path.join(path, "image"), mode="r+")[where] = block
    return block.nbytes
