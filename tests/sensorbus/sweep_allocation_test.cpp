// A sensor sweep must not touch the heap: it runs for every request of a
// long-lived server. Counting malloc itself (through glibc's replaceable
// allocator) also catches C library calls that allocate behind our back.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <gtest/gtest.h>

#include "sensorbus/ds1621_sensor.h"
#include "tests/support/test_env.h"

#if defined(__SANITIZE_ADDRESS__)
#define KELVARA_COUNTS_MALLOC 0
#else
#define KELVARA_COUNTS_MALLOC 1
#endif

#if KELVARA_COUNTS_MALLOC
namespace {
std::atomic<bool> counting{false};
std::atomic<int> allocations{0};
}  // namespace

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);

void* malloc(std::size_t size)
{
    if (counting)
        ++allocations;
    return __libc_malloc(size);
}

void* calloc(std::size_t count, std::size_t size)
{
    if (counting)
        ++allocations;
    return __libc_calloc(count, size);
}

void* realloc(void* pointer, std::size_t size)
{
    if (counting)
        ++allocations;
    return __libc_realloc(pointer, size);
}
}
#endif

namespace kelvara {
namespace {

#if KELVARA_COUNTS_MALLOC
void no_wait(int) {}
#endif

TEST(SweepAllocation, SweepsAllocateNothing)
{
#if !KELVARA_COUNTS_MALLOC
    GTEST_SKIP() << "the sanitizer owns malloc in this build";
#else
    SleepHook previous = set_sleep_hook(no_wait);
    struct Case {
        const char* device;
        int com;
    } cases[] = {
        {"sim:21.5,-,25.5,nak,20,21,22,23", 3},  // present, absent and failing chips
        {"sim:hold", 3},                          // a held bus
        {"/nonexistent/kelvara-tty", 3},          // a port that cannot be opened
        {"sim:20", 7},                            // a port number out of range
    };
    for (const Case& c : cases) {
        test::ScopedEnv port("KELVARA_COM3", c.device);
        std::int8_t status[8] = {};
        std::int16_t temperature[8] = {};
        allocations = 0;
        counting = true;
        read_sensors(status, temperature, 1, 8, c.com);
        counting = false;
        EXPECT_EQ(allocations.load(), 0) << c.device;
    }
    // The counter itself works: an allocation while counting is seen.
    counting = true;
    void* p = std::malloc(16);
    counting = false;
    std::free(p);
    EXPECT_EQ(allocations.load(), 1);
    set_sleep_hook(previous);
#endif
}

}  // namespace
}  // namespace kelvara
