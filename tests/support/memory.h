#pragma once
// How much memory the process holds, for tests that check a long run does not grow, and which
// pages of a block the system has given it.

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#include <cstddef>
// From the sanitizer runtime (gcc ships no header declaring it).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace test_memory {

// The resident set size from /proc.
inline long long ResidentBytes()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stoll(line.substr(6)) * 1024;
    }
    return -1;
}

// Under AddressSanitizer: the bytes of live heap blocks (freed blocks wait in its quarantine, so
// the resident size says little there). Otherwise the resident set size.
inline long long InUseBytes()
{
#if defined(__SANITIZE_ADDRESS__)
    return static_cast<long long>(__sanitizer_get_current_allocated_bytes());
#else
    return ResidentBytes();
#endif
}

// Pages of the block the system has not yet given the process (never written); -1 when it
// cannot tell.
inline long long PagesNotInUse(const void* block, std::size_t size)
{
    const auto page = std::uintptr_t(sysconf(_SC_PAGESIZE));
    const auto begin = reinterpret_cast<std::uintptr_t>(block) & ~(page - 1);
    const auto end = reinterpret_cast<std::uintptr_t>(block) + size;
    std::vector<unsigned char> resident((end - begin + page - 1) / page);
    if (mincore(reinterpret_cast<void*>(begin), end - begin, resident.data()) != 0)
        return -1;
    return std::count_if(resident.begin(), resident.end(), [](unsigned char r) { return !(r & 1); });
}

// Caps the address space at what the process maps now plus `spare` bytes, so the next large
// allocation fails; false when the cap cannot be set. For a process of its own (a death test).
inline bool CapAddressSpace(rlim_t spare)
{
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const rlim_t room = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + spare;
    const rlimit cap = {room, room};
    return setrlimit(RLIMIT_AS, &cap) == 0;
}

}  // namespace test_memory
