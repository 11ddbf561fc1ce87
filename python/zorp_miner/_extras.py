"""Optional dependencies: imported only by the functions that need them."""

import importlib
from types import ModuleType

# The extra of the wheel that brings each optional module.
EXTRAS = {"pandas": "pandas", "matplotlib": "plot", "distributed": "dask", "dask": "dask"}


def require(module: str, needed_for: str) -> ModuleType:
    """Import an optional module, or fail with one line saying which extra to install.

    Parameters
    ----------
    module : str
        The module to import ("pandas", "matplotlib", "dask" or "distributed").
    needed_for : str
        What needs it, for the message ("to_frame()", "plotting").

    Raises
    ------
    ImportError
        When the module cannot be imported.
    """
    try:
        return importlib.import_module(module)
    except ImportError:
        extra = EXTRAS[module]
        raise ImportError(
            f"{needed_for} needs {module}, which is not installed: "
            f"pip install 'zorp_miner[{extra}]'"
        ) from None
