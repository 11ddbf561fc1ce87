"""The package version, read by the build as well as by ``zorp_miner.__version__``."""

__version__ = "0.2.0"
