"""The robust mode: the search (`search`), the store through which it reads the series
part by part (`store`), the per-series tasks the store runs on every part (`tasks`), the shapes
both use (`shapes`), and the result the search's motifs make (`results`)."""
