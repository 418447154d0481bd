// Preloaded into a program run: the allocation numbered L2_FAIL_ALLOCATION
// (counting from 1 every malloc, calloc, realloc and aligned allocation of
// the process, on any thread) fails as if memory had run out; 0 or unset:
// none fails.  With L2_COUNT_ALLOCATIONS set, the number of allocations is
// written to standard error at exit, as "allocations: N".
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
}

namespace {

std::atomic<unsigned long> allocations{0};
unsigned long failing = 0;  // read once, before main

__attribute__((constructor)) void read_settings()
{
    const char* n = getenv("L2_FAIL_ALLOCATION");
    failing = n != nullptr ? strtoul(n, nullptr, 10) : 0;
}

__attribute__((destructor)) void report()
{
    if (getenv("L2_COUNT_ALLOCATIONS") == nullptr)
        return;
    char digits[24];
    size_t n = sizeof digits;
    digits[--n] = '\n';
    unsigned long value = allocations.load();
    do {
        digits[--n] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value > 0 && n > 0);
    static const char label[] = "allocations: ";
    if (write(2, label, sizeof label - 1) >= 0 && write(2, digits + n, sizeof digits - n) >= 0)
        return;
}

// Whether this allocation is the one to fail.
bool fails()
{
    if (allocations.fetch_add(1) + 1 != failing)
        return false;
    errno = ENOMEM;
    return true;
}

}  // namespace

extern "C" {

void* malloc(size_t size) noexcept { return fails() ? nullptr : __libc_malloc(size); }
void* calloc(size_t count, size_t size) noexcept
{
    return fails() ? nullptr : __libc_calloc(count, size);
}
void* realloc(void* block, size_t size) noexcept
{
    return fails() ? nullptr : __libc_realloc(block, size);
}
void* memalign(size_t alignment, size_t size) noexcept
{
    return fails() ? nullptr : __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size) noexcept { return memalign(alignment, size); }
int posix_memalign(void** block, size_t alignment, size_t size) noexcept
{
    void* p = memalign(alignment, size);
    if (p == nullptr)
        return ENOMEM;
    *block = p;
    return 0;
}

}  // extern "C"
