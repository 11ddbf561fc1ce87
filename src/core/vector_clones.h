#pragma once

// Builds of a kernel for wider vectors. Internal to the core.
//
// Where the system loads a function's best version at start (glibc on x86-64), a function marked
// ZORP_VECTOR_CLONES is built twice, for processors with 256-bit vectors and for any; each
// version computes the same bits, as its loops add and multiply in the same order (no fused
// multiply-add). Not under the sanitizers: their runtimes are not set up yet when the loader
// picks the version (ThreadSanitizer's programs crash there).
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__GLIBC__) && \
    !defined(__SANITIZE_THREAD__) && !defined(__SANITIZE_ADDRESS__)
#define ZORP_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define ZORP_VECTOR_CLONES
#endif
