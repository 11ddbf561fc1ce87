"""The robust mode's fixed rules: the same for every data set (not tuned per set), each with
what it sets."""

SEED_POINTS = 8  # points per seed window when the seeds are screened on averaged series
SCREEN_POINTS = 24  # points per shape when the best of them are screened again
SCREENED = 8  # times `refined` candidates screened again
FIRST_SCREEN_SERIES = 16  # series of the sample in which many seeds are screened first
FIRST_SCREEN_KEPT = 4  # times SCREENED x `refined` of them screened in the whole sample then
SEED_MISS = 0.001  # the chance that no seed series holds a shape held by minsup of the series
SEED_WINDOWS = 8192  # seed windows screened at most, per search
MONOTONE = 0.9  # a shape whose variance a monotone curve explains beyond this is trivial
MEMBER_RATE = 0.05  # a series holds a motif when its best match beats all but this share of chance's
ALPHABETS = (3, 4)  # letters per position of the proposal words
PROPOSALS = 64  # shapes proposed by frequent words, per search
PROPOSAL_LETTERS = 8  # letters per proposal word
PROPOSAL_SUPPORT = 0.25  # the share of the sample's series a word must occur in to propose a shape
PHASES = 3  # progress steps per length: the search, the null's search, the evidence
SHORTEST = 8  # the shortest length searched without a length (points)
LENGTH_STEP = 2.0  # the ratio of one length searched without a length to the next
STEADY_SERIES = 3  # series in which two motifs must stand at one offset to be one motif
CHANCE_DEVIATIONS = 2.0  # beyond chance's count of coinciding matches that makes two motifs one
STEADY_DEVIATIONS = 3.0  # and of matches standing at one offset (the offset most stand at: taken more strictly)
STEADY_SHARE = 1 / 3  # and the share of the series both hold they stand at it in, at least, for a part of a shape
REFINEMENTS = 6  # times a candidate is refined at most (fewer when its closest matches stay)
NEAR_SEED = 2  # refinements after which a candidate's shape is kept as a candidate too
GAINED = 4  # candidates per search chosen by their gain over a null, beside those chosen by closeness
GAIN_SERIES = 8  # series of the sample in which the seeds' gains are measured
SCREEN_NULL = 3  # the draw of the null in which they are (the search's own is 1, the evidence's 2)
TRIMMED = 3  # likely motifs found without a length searched again at their extent (at least; top when more)
EXTENT_REST = 0.05  # the share of a motif's agreement left outside its extent
