"""Reading arrays of series from .npy and .npz files: headers checked before any array is read,
arrays refused beyond a share of the machine's memory, rows or columns as series."""

import math
import os
import zipfile
from typing import IO, Any

import numpy as np
from numpy.typing import NDArray

from zorp_miner._errors import LoadError
from zorp_miner._interface import option
from zorp_miner._types import FloatArray
from zorp_miner.io.checks import Layout, checked_series, listed, regular_file

MEMORY_SHARE = 0.5  # of the machine's memory, the most an array of a .npy or .npz may take


def read_npy(name: str) -> NDArray[Any]:
    regular_file(name, ".npy")
    with open(name, "rb") as start:
        if start.read(6) != b"\x93NUMPY":
            # np.load would take any other file for a pickle.
            raise LoadError(f"{name}: not a readable .npy file (no .npy signature at its start)")
        start.seek(0)
        _check_header(name, start, os.fstat(start.fileno()).st_size)
    try:
        array: NDArray[Any] = np.load(name, allow_pickle=False)
    except ValueError as error:
        if "allow_pickle" in str(error):
            raise LoadError(
                f"{name}: holds Python objects, which are never unpickled; save a numeric array"
            ) from None
        raise LoadError(f"{name}: not a readable .npy file ({error})") from None
    except (OSError, EOFError) as error:
        raise LoadError(f"{name}: not a readable .npy file ({error})") from None
    if not isinstance(array, np.ndarray):
        raise LoadError(f"{name}: not a .npy file (it holds several arrays; read it as npz)")
    return array


def _check_header(where: str, stream: IO[bytes], size: int) -> None:
    """Refuses an array, from its .npy header alone, whose values the file cannot hold
    (size bytes in all) or whose float64 copy would take more than MEMORY_SHARE of the
    machine's memory. Leaves stream just past the header."""
    try:
        version = np.lib.format.read_magic(stream)
        if version == (1, 0):
            shape, _, dtype = np.lib.format.read_array_header_1_0(stream)
        else:
            shape, _, dtype = np.lib.format.read_array_header_2_0(stream)
    except (ValueError, OSError, EOFError) as error:
        raise LoadError(f"{where}: not a readable .npy header ({error})") from None
    if dtype.hasobject:
        raise LoadError(
            f"{where}: holds Python objects, which are never unpickled; save a numeric array"
        )
    values = math.prod(shape)
    needed = values * dtype.itemsize
    held = size - stream.tell()
    if needed > held:
        raise LoadError(
            f"{where}: its header announces an array of shape {shape} ({values} values, "
            f"{needed} bytes), but only {held} bytes follow it: the file is cut short or not "
            "a .npy file"
        )
    memory = os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES")
    if values * 8 > MEMORY_SHARE * memory:
        raise LoadError(
            f"{where}: an array of shape {shape} would take {values * 8 / 2**30:.1f} GiB as "
            f"float64, more than half this machine's {memory / 2**30:.1f} GiB; split it into "
            "several files (and run them on a cluster)"
        )


def read_npz(name: str, key: str | None, layout: Layout) -> list[FloatArray]:
    regular_file(name, ".npz")
    if not zipfile.is_zipfile(name):
        raise LoadError(f"{name}: not a readable .npz file (it is not a zip archive)")
    try:
        with np.load(name, allow_pickle=False) as archive:
            keys = list(archive.files)
            if key is not None:
                if key not in keys:
                    raise LoadError(f"{name}: no array {key!r}; its arrays are {listed(keys)}")
                return checked_series(name, oriented(name, _npz_array(name, archive, key), layout))
            if len(keys) == 1:
                return checked_series(name, oriented(name, _npz_array(name, archive, keys[0]), layout))
            if not keys:
                raise LoadError(f"{name}: holds no arrays")
            if layout == "columns":
                raise LoadError(
                    f"{name}: holds several arrays ({listed(keys)}); choose one with "
                    f"{option('key', chr(39) + 'name' + chr(39))}"
                )
            arrays = [_npz_array(name, archive, one) for one in keys]
    except (zipfile.BadZipFile, OSError, EOFError) as error:
        raise LoadError(f"{name}: not a readable .npz file ({error})") from None
    except ValueError as error:
        if isinstance(error, LoadError):
            raise
        if "allow_pickle" in str(error):
            raise LoadError(
                f"{name}: holds Python objects, which are never unpickled; save numeric arrays"
            ) from None
        raise LoadError(f"{name}: not a readable .npz file ({error})") from None
    if any(array.ndim != 1 for array in arrays):
        raise LoadError(
            f"{name}: holds several arrays ({listed(keys)}); choose one with "
            f"{option('key', chr(39) + 'name' + chr(39))}"
        )
    return checked_series(name, arrays)


def _npz_array(name: str, archive: Any, key: str) -> NDArray[Any]:
    """One array of an .npz archive, its header checked (see `_check_header`) first."""
    member = key if key in archive.zip.namelist() else f"{key}.npy"
    size = archive.zip.getinfo(member).file_size
    with archive.zip.open(member) as stream:
        _check_header(f"{name}, array {key!r},", stream, size)
    array: NDArray[Any] = archive[key]
    return array


def oriented(name: str, array: NDArray[Any], layout: Layout) -> NDArray[Any]:
    if array.ndim == 3 and array.shape[1] == 1:
        array = array[:, 0, :]  # one channel, (series, 1, points), as aeon and sktime hold it
    if array.ndim not in (1, 2):
        channels = f" of {array.shape[1]} channels" if array.ndim == 3 else ""
        raise LoadError(
            f"{name}: an array of {array.ndim} dimensions (shape {array.shape}){channels}; "
            "expected 1-D (one series), 2-D (one series per row) or 3-D of one channel "
            "(series, 1, points)"
        )
    if layout == "columns":
        if array.ndim != 2:
            raise LoadError(f"{name}: layout='columns' needs a 2-D array, got 1-D")
        return array.T
    return array
