/* An allocator that fails one chosen allocation of the process.
 *
 * Linked into a program (whose symbols are exported, so that every shared
 * library binds to it), it replaces malloc and its relatives with thin
 * wrappers around the C library's own allocator. Until armed, the wrappers
 * only pass calls through. Once armed, every call of malloc, calloc, realloc
 * (other than a release), posix_memalign, aligned_alloc, memalign, valloc
 * and pvalloc on any thread is counted, and the chosen one fails as the
 * allocator fails when memory runs out: a null result (ENOMEM from
 * posix_memalign). Every other call succeeds.
 *
 * C++ operator new reaches malloc in libstdc++, so its allocations count
 * too. */
#ifndef ZEPHLAR_TESTS_FAILING_MALLOC_H
#define ZEPHLAR_TESTS_FAILING_MALLOC_H

#ifdef __cplusplus
extern "C" {
#endif

/* Starts counting from zero. The `fail_at`-th allocation counted from now
 * fails (once); 0 fails none and only counts. */
void failing_malloc_arm(unsigned long fail_at);

/* Stops counting and failing; returns the number of allocations counted
 * since arming. */
unsigned long failing_malloc_disarm(void);

/* Whether the chosen allocation has been failed since arming. */
int failing_malloc_has_failed(void);

/* Called at the moment the chosen allocation fails, on the thread that
 * asked for it: a place for a debugger's breakpoint. */
void failing_malloc_failing_now(void);

#ifdef __cplusplus
}
#endif

#endif
