#pragma once
// How much memory the process holds, for tests that check a long run does not grow.

#include <fstream>
#include <string>

#if defined(__SANITIZE_ADDRESS__)
#include <cstddef>
// From the sanitizer runtime (gcc ships no header declaring it).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace test_memory {

// Under AddressSanitizer: the bytes of live heap blocks (freed blocks wait in its quarantine, so
// the resident size says little there). Otherwise the resident set size from /proc.
inline long long InUseBytes()
{
#if defined(__SANITIZE_ADDRESS__)
    return static_cast<long long>(__sanitizer_get_current_allocated_bytes());
#else
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stoll(line.substr(6)) * 1024;
    }
    return -1;
#endif
}

}  // namespace test_memory
