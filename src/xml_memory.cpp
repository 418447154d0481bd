// libxml2's allocations, counted and capped: see xml_memory.h.
#include "xml_memory.h"

#include <libxml/threads.h>
#include <libxml/xmlmemory.h>
#include <libxml/xmlversion.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace xml_memory {
namespace {

// Every block carries its size in front, in a header that keeps the
// block's alignment.
constexpr std::size_t kHeader = alignof(std::max_align_t) > sizeof(std::size_t)
                                    ? alignof(std::max_align_t)
                                    : sizeof(std::size_t);
constexpr std::size_t kMiB = std::size_t{1} << 20;

std::atomic<std::size_t> cap{kDefaultCapMiB * kMiB};
std::atomic<std::size_t> in_use{0};
std::atomic<bool> over_cap{false};
std::atomic<bool> failed{false};

// Counts `more` bytes in if the cap allows them.
bool take(std::size_t more)
{
    const std::size_t limit = cap.load(std::memory_order_relaxed);
    std::size_t now = in_use.load(std::memory_order_relaxed);
    do {
        if (now > limit || more > limit - now) {
            over_cap.store(true, std::memory_order_relaxed);
            return false;
        }
    } while (!in_use.compare_exchange_weak(now, now + more, std::memory_order_relaxed));
    return true;
}

void give_back(std::size_t bytes)
{
    in_use.fetch_sub(bytes, std::memory_order_relaxed);
}

void* refused()
{
    failed.store(true, std::memory_order_relaxed);
    errno = ENOMEM;
    return nullptr;
}

char* header_of(void* block)
{
    return static_cast<char*>(block) - kHeader;
}

std::size_t size_of(void* block)
{
    std::size_t size;
    std::memcpy(&size, header_of(block), sizeof size);
    return size;
}

void* with_size(void* base, std::size_t size)
{
    std::memcpy(base, &size, sizeof size);
    return static_cast<char*>(base) + kHeader;
}

void* counted_malloc(std::size_t size)
{
    if (size > SIZE_MAX - kHeader || !take(size))
        return nullptr;
    void* base = std::malloc(kHeader + size);
    if (base == nullptr) {
        give_back(size);
        return refused();
    }
    return with_size(base, size);
}

void counted_free(void* block)
{
    if (block == nullptr)
        return;
    give_back(size_of(block));
    std::free(header_of(block));
}

void* counted_realloc(void* block, std::size_t size)
{
    if (block == nullptr)
        return counted_malloc(size);
    const std::size_t old = size_of(block);
    if (size > SIZE_MAX - kHeader || (size > old && !take(size - old)))
        return nullptr;
    void* base = std::realloc(header_of(block), kHeader + size);
    if (base == nullptr) {
        if (size > old)
            give_back(size - old);
        return refused();
    }
    if (size < old)
        give_back(old - size);
    return with_size(base, size);
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
