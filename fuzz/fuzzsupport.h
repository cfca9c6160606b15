#pragma once

#include <cstddef>
#include <cstdint>

namespace Lumetra {

// Sets up what the loader needs once per fuzzing process.
void initializeFuzzing();

// Writes the input to a file with the given suffix and loads it. A load must
// either fail with ImageLoadException or keep every invariant of a loaded
// image; anything else aborts so the fuzzer records the input.
void loadFuzzInput(const uint8_t* data, size_t size, const char* suffix);

} // namespace Lumetra
