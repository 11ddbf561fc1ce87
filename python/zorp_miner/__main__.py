"""``python -m zorp_miner``: the command line, as ``zorp-miner``."""

import sys

from zorp_miner.cli import main

sys.exit(main())
