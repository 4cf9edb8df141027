#include "base/random.h"

#include <windows.h>
#include <bcrypt.h>

#include <limits>

bool RandomBytes(void* buffer, std::size_t size)
{
    if (size > std::numeric_limits<ULONG>::max()) {
        return false;
    }
    return BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, static_cast<PUCHAR>(buffer), static_cast<ULONG>(size),
                                            BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}

bool RandomBelow(std::uint32_t bound, std::uint32_t& number)
{
    if (bound == 0) {
        return false;
    }
    // Draws at or above the last whole multiple of bound are drawn again.
    const std::uint32_t limit = std::numeric_limits<std::uint32_t>::max() - std::numeric_limits<std::uint32_t>::max() % bound;
    for (;;) {
        std::uint32_t draw = 0;
        if (!RandomBytes(&draw, sizeof draw)) {
            return false;
        }
        if (draw < limit) {
            number = draw % bound;
            return true;
        }
    }
}
