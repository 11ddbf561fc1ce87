"""Options named in messages as the interface in use spells them.

The same check serves Python callers and the command line; its hint reads "header=True" from
Python and "--header" from ``zorp-miner``. The command line sets :data:`COMMAND_LINE` for its
run; everything else reads it through :func:`option`.
"""

from contextvars import ContextVar

# True while the command line runs (per thread).
COMMAND_LINE: ContextVar[bool] = ContextVar("zorp_miner_command_line", default=False)

# Flags whose name is not the keyword's, by keyword (and value, where the flag stands for one).
_FLAGS = {
    "client": "--scheduler or --workers",
    "within=True": "--within",
    "format": "--input-format",
    "layout='columns'": "--columns",
    "header=True": "--header",
    "index_col=True": "--index-col",
}


def option(keyword: str, value: str | None = None) -> str:
    """How to write an option: ``keyword=value`` (or ``keyword``) from Python, the flag (with
    the value after a space, unless the flag stands for it) from the command line.

    >>> option("min_len", "3")
    'min_len=3'
    """
    python = keyword if value is None else f"{keyword}={value}"
    if not COMMAND_LINE.get():
        return python
    if python in _FLAGS:
        return _FLAGS[python]
    flag = _FLAGS.get(keyword, "--" + keyword.replace("_", "-"))
    return flag if value is None else f"{flag} {value.strip(chr(39))}"


def plural(count: int, noun: str) -> str:
    """count and noun, the noun in the plural unless count is 1 ("1 motif", "3 motifs"; "series"
    and other nouns ending in s stay as they are)."""
    return f"{count} {noun if count == 1 or noun.endswith('s') else noun + 's'}"
