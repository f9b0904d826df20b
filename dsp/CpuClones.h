#pragma once

// Builds a hot function twice, plain and for AVX2, and lets the loader pick
// one for the processor at hand. Left out under ThreadSanitizer: the
// loader's choosing code runs before the sanitizer has started and crashes.
#if defined(__x86_64__) && defined(__GNUC__) && defined(__ELF__) && !defined(__SANITIZE_THREAD__)
#define TAVIX_CPU_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define TAVIX_CPU_CLONES
#endif
