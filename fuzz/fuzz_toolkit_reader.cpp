// Feeds arbitrary bytes to the toolkit reader path. The toolkit picks its
// decoder by content, so one suffix reaches the PNG and JPEG readers alike,
// together with Lumetra's own scan of their structure.
#include "fuzzsupport.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    Lumetra::initializeFuzzing();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Lumetra::loadFuzzInput(data, size, ".png");
    return 0;
}
