"""The command line: ``zorp-miner FILE... [--length N] [options]`` (also ``python -m zorp_miner``),
the motifs of files (`motifs`), ``zorp-miner match QUERY DATA... [options]``, the search by
example (`match`), and ``zorp-miner discords FILE... --length M``, the discords (`discords`); the options both share (`options`) and what the motifs command writes
(`output`).

Exit status: 0 on success; 2 for a usage or input error (one line on stderr); 1 when the run
itself is refused, for instance because it would need more memory than the machine has, or
fails on a cluster; 130 when interrupted (Ctrl-C). Never a traceback: every failure is one
line on stderr.
"""

import os
import sys

from zorp_miner._errors import ClusterError, RunRefused
from zorp_miner._interface import COMMAND_LINE
from zorp_miner.cli.options import PROG, UsageError, say

# The first argument that makes the command a search by example, or a search for discords.
MATCH = "match"
DISCORDS = "discords"


def main(argv: list[str] | None = None) -> int:
    """Run the command line.

    Parameters
    ----------
    argv : list of str, optional
        The arguments after the program name; ``sys.argv[1:]`` by default.

    Returns
    -------
    int
        The exit status: 0 on success, 2 for a usage or input error, 1 for a refused or
        failed run, 130 when interrupted.
    """
    token = COMMAND_LINE.set(True)
    arguments = sys.argv[1:] if argv is None else argv
    try:
        if arguments[:1] == [MATCH]:
            from zorp_miner.cli.match import run_match

            return run_match(arguments[1:])
        if arguments[:1] == [DISCORDS]:
            from zorp_miner.cli.discords import run_discords

            return run_discords(arguments[1:])
        from zorp_miner.cli.motifs import run_motifs

        return run_motifs(arguments)
    except UsageError as error:
        command = f"{PROG} {arguments[0]}" if arguments[:1] in ([MATCH], [DISCORDS]) else PROG
        say(f"error: {error} (see {command} --help)")
        return 2
    except RunRefused as error:
        say(f"run refused: {error}")
        return 1
    except ClusterError as error:
        say(f"run failed: {error}")
        return 1
    except (ValueError, TypeError, ImportError) as error:
        say(f"error: {error}")
        return 2
    except OSError as error:
        if isinstance(error, BrokenPipeError):
            return _stdout_closed()
        say(f"error: {_os_message(error)}")
        return 2
    except MemoryError as error:
        say(f"run refused: {error or 'out of memory'}")
        return 1
    except KeyboardInterrupt:
        say("interrupted")
        return 130
    except SystemExit as exit:  # --help and --version
        return exit.code if isinstance(exit.code, int) else 0
    except Exception as error:  # anything else: one line too, never a traceback
        say(f"failed: {type(error).__name__}: {error}")
        return 1
    finally:
        COMMAND_LINE.reset(token)


def _stdout_closed() -> int:
    """The reader of stdout went away (``zorp-miner ... | head``): nothing more to say."""
    # Python would report the broken pipe again when it flushes stdout at exit.
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, sys.stdout.fileno())
    return 1


def _os_message(error: OSError) -> str:
    if error.filename is not None and error.strerror:
        return f"{error.filename}: {error.strerror}"
    return str(error)
