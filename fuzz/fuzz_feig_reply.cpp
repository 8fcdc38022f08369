// FEIG replies into the engine's own reply slot, in every engine state.
#include "fuzz/fuzzharness.h"
#include "fuzz/fuzzmain.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), static_cast<int>(size));
    auto& h = fuzzharness::Harness::instance();
    fuzzharness::abortOnFailures(h.runReplies(fuzzharness::Reader::Feig, input), input);
    return 0;
}
