// Unpredictable numbers from the system's cryptographic generator.
#pragma once

#include <cstddef>
#include <cstdint>

// Fills the buffer; false when the generator fails (the buffer is then unusable).
bool RandomBytes(void* buffer, std::size_t size);

// A number from 0 to bound - 1, without the bias of a plain modulo; false on failure.
bool RandomBelow(std::uint32_t bound, std::uint32_t& number);
