"""The run layer under every entry point (:func:`zorp_miner.find_motifs`,
:func:`zorp_miner.find_matches`, the occurrences of motifs, and both commands): the input read
in this process or loaded in parts on a cluster (`data`), the cluster's client opened and closed
(`cluster`), and the one rule that chooses between motifs across a set and within a series and
refuses the options a run would not use (`choice`). Progress is reported through
:mod:`zorp_miner.progress` by the steps themselves."""
