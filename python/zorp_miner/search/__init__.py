"""Search by example: every window of every series within a radius of a shape (`matches`), and
every occurrence of a robust motif (`occurrences`). The method: docs/search.md."""
