"""The numeric layer the modes share: sliding statistics and distances between shapes and
series (`sliding`), the shapes' own measures (`shapes`), the shuffled series and the evidence
of a motif (`evidence`), and the threads the kernels run on (`threads`)."""
