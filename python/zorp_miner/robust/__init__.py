"""The robust mode, motifs across a set of series: the search (`search`), the store through
which it reads the series part by part (`store`), the per-series tasks the store runs on every
part (`tasks`), and the result its motifs make (`results`). The method: docs/robust.md."""
