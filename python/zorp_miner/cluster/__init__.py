"""A set of series held in parts (`parts`): in this process, or loaded by the workers of a Dask
cluster (`dask`), which give the same answers as one process."""
