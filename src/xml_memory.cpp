// libxml2's allocations, counted and capped: see xml_memory.h.
#include "xml_memory.h"

#include <libxml/threads.h>
#include <libxml/xmlmemory.h>
#include <libxml/xmlversion.h>
#include <malloc.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace xml_memory {
namespace {

// Blocks are counted at the size the C library gave them (which free and
// realloc can ask again), so that they need no header of their own and stay
// the C library's blocks as they are.
constexpr std::size_t kMiB = std::size_t{1} << 20;

std::atomic<std::size_t> cap{kDefaultCapMiB * kMiB};
std::atomic<std::size_t> in_use{0};
std::atomic<bool> over_cap{false};
std::atomic<bool> failed{false};

// Whether `more` bytes fit under the cap now.
bool fits(std::size_t more)
{
    const std::size_t limit = cap.load(std::memory_order_relaxed);
    const std::size_t now = in_use.load(std::memory_order_relaxed);
    if (now <= limit && more <= limit - now)
        return true;
    over_cap.store(true, std::memory_order_relaxed);
    return false;
}

void* refused()
{
    failed.store(true, std::memory_order_relaxed);
    errno = ENOMEM;
    return nullptr;
}

void* counted_malloc(std::size_t size)
{
    if (!fits(size))
        return nullptr;
    void* block = std::malloc(size);
    if (block == nullptr)
        return refused();
    in_use.fetch_add(malloc_usable_size(block), std::memory_order_relaxed);
    return block;
}

void counted_free(void* block)
{
    if (block == nullptr)
        return;
    in_use.fetch_sub(malloc_usable_size(block), std::memory_order_relaxed);
    std::free(block);
}

void* counted_realloc(void* block, std::size_t size)
{
    if (block == nullptr)
        return counted_malloc(size);
    const std::size_t old = malloc_usable_size(block);
    if (size > old && !fits(size - old))
        return nullptr;
    void* moved = std::realloc(block, size);
    if (moved == nullptr)
        return refused();  // the old block stays, counted as it was
    in_use.fetch_sub(old, std::memory_order_relaxed);
    in_use.fetch_add(malloc_usable_size(moved), std::memory_order_relaxed);
    return moved;
}

char* counted_strdup(const char* text)
{
    const std::size_t size = std::strlen(text) + 1;
    void* copy = counted_malloc(size);
    if (copy != nullptr)
        std::memcpy(copy, text, size);
    return static_cast<char*>(copy);
}

}  // namespace

bool install()
{
    return xmlMemSetup(counted_free, counted_malloc, counted_realloc, counted_strdup) == 0;
}

bool thread_state_ready()
{
#if LIBXML_VERSION >= 21200
    return xmlCheckThreadLocalStorage() == 0;
#else
    return true;  // allocated by libxml2 without ending the process
#endif
}

bool set_cap_mib(const char* text)
{
    if (text == nullptr || *text < '0' || *text > '9')
        return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long mib = std::strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0' || mib == 0 || mib > SIZE_MAX / kMiB)
        return false;
    cap.store(static_cast<std::size_t>(mib) * kMiB, std::memory_order_relaxed);
    return true;
}

std::size_t cap_mib()
{
    return cap.load(std::memory_order_relaxed) / kMiB;
}

Events take_events()
{
    Events events;
    events.over_cap = over_cap.exchange(false, std::memory_order_relaxed);
    events.failed = failed.exchange(false, std::memory_order_relaxed);
    return events;
}

}  // namespace xml_memory
