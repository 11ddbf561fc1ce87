"""Reading series: from the forms Python holds them in (`inputs`: arrays, lists, pandas), and
from files (`files`: CSV, TSV, UCR, JSON, .npy, .npz)."""
