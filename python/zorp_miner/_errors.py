"""The package's own errors, all exported from ``zorp_miner``; none needs an optional
dependency to be raised or caught."""


class ClusterError(RuntimeError):
    """A run on a cluster that could not complete (it gives no result, not a partial one), or
    a result whose values were left on the cluster and can no longer be read from it."""


class LoadError(ValueError):
    """A file that cannot be read as series; the message names the file, and the line and
    column where there is one."""


class RunRefused(ValueError):
    """A run refused before any work because its parameters make it hopeless (it would run
    for minutes, or find nothing by construction); the message says what to change."""
