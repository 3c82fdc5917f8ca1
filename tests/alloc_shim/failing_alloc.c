// Preloaded into a test's child process: makes exactly one chosen allocation fail.
// failing_alloc_arm(n) makes the n-th malloc, calloc or realloc from then on, counted in the
// arming thread only, return NULL with errno ENOMEM, once; every other call goes to glibc's own
// allocator. Other threads are left alone: what they allocate meanwhile depends on timing.
#include <errno.h>
#include <pthread.h>
#include <stdatomic.h>
#include <stddef.h>

extern void* __libc_malloc(size_t size);
extern void* __libc_calloc(size_t count, size_t size);
extern void* __libc_realloc(void* block, size_t size);

static atomic_long countdown;  // allocations left until the failing one; 0 when disarmed
static atomic_long seen;       // allocations since arming, to tell that this shim is in effect
static atomic_int triggered;
static atomic_ulong arming_thread;

void failing_alloc_arm(long n) {
    atomic_store(&triggered, 0);
    atomic_store(&seen, 0);
    atomic_store(&arming_thread, (unsigned long)pthread_self());
    atomic_store(&countdown, n > 0 ? n : 0);
}

// Disarms; returns whether the armed allocation was reached and failed.
int failing_alloc_disarm(void) {
    atomic_store(&countdown, 0);
    return atomic_load(&triggered);
}

int failing_alloc_triggered(void) { return atomic_load(&triggered); }

long failing_alloc_seen(void) { return atomic_load(&seen); }

static int must_fail(void) {
    long left = atomic_load_explicit(&countdown, memory_order_relaxed);
    if (left == 0 || (unsigned long)pthread_self() != atomic_load(&arming_thread)) return 0;
    atomic_fetch_add(&seen, 1);
    // A compare-and-swap loop, in case the count is rearmed meanwhile: never two failures.
    while (left > 0) {
        if (atomic_compare_exchange_weak(&countdown, &left, left - 1)) {
            if (left != 1) return 0;
            atomic_store(&triggered, 1);
            errno = ENOMEM;
            return 1;
        }
    }
    return 0;
}

void* malloc(size_t size) { return must_fail() ? NULL : __libc_malloc(size); }

void* calloc(size_t count, size_t size) { return must_fail() ? NULL : __libc_calloc(count, size); }

void* realloc(void* block, size_t size) {
    // realloc(p, 0) frees, and a NULL from it would mean success: only real requests may fail.
    if (block != NULL && size == 0) return __libc_realloc(block, size);
    return must_fail() ? NULL : __libc_realloc(block, size);
}
