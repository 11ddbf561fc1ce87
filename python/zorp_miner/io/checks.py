"""What every reader of files checks: that a path is a regular file, that what it read is a set
of series (errors named by the file), and how a few names are listed in a message."""

import os
import stat
from collections.abc import Sequence
from typing import Literal

from zorp_miner._errors import LoadError
from zorp_miner._types import FloatArray
from zorp_miner.io.inputs import as_series_set

Layout = Literal["rows", "columns"]


def regular_file(name: str, kind: str) -> None:
    """Refuses a path that is not a regular file (a pipe, a device), which a numpy file,
    read by seeking, cannot be."""
    if not stat.S_ISREG(os.stat(name).st_mode):
        raise LoadError(f"{name}: not a regular file, which a {kind} file must be")


def checked_series(name: str, data: object) -> list[FloatArray]:
    try:
        return as_series_set(data)
    except (TypeError, ValueError) as error:
        raise LoadError(f"{name}: {error}") from None


def listed(names: Sequence[str], most: int = 5) -> str:
    """A few names, and how many there are when there are more."""
    if len(names) <= most:
        return ", ".join(names)
    return f"{', '.join(names[:most])} and {len(names) - most} more, {len(names)} in all"
