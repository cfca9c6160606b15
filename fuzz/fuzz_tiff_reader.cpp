// Feeds arbitrary bytes to the libtiff reader path.
#include "fuzzsupport.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    Lumetra::initializeFuzzing();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Lumetra::loadFuzzInput(data, size, ".tif");
    return 0;
}
