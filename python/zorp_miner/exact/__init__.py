"""The exact mode: letter patterns mined across the series' words, step by step over parts
(`parts`), and the motifs they make (`results`)."""
