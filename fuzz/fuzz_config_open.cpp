// Any file opened as a configuration through the engine (and the save that follows it).
#include "fuzz/fuzzharness.h"
#include "fuzz/fuzzmain.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), static_cast<int>(size));
    auto& h = fuzzharness::Harness::instance();
    fuzzharness::abortOnFailures(h.runConfigFile(input), input);
    return 0;
}
