#pragma once
// Declares the entry of one fuzz target. Built for libFuzzer it is LLVMFuzzerTestOneInput;
// built for the corpus replay tests it is a named function in a table, so one test program
// can feed every kept input through the very code the fuzzer ran.
#include <cstddef>
#include <cstdint>

namespace vornel::fuzz {

using Entry = int (*)(const uint8_t* data, size_t size);

// Called once per target before main(); returns true so that a static can hold it.
bool registerEntry(const char* name, Entry entry);

} // namespace vornel::fuzz

#ifdef VORNEL_FUZZ_REPLAY
#define VORNEL_FUZZ_TARGET(name)                                                                                       \
    static int fuzzEntry_##name(const uint8_t* data, size_t size);                                                     \
    [[maybe_unused]] static const bool fuzzRegistered_##name = vornel::fuzz::registerEntry(#name, fuzzEntry_##name);   \
    static int fuzzEntry_##name(const uint8_t* data, size_t size)
#else
#define VORNEL_FUZZ_TARGET(name) extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
#endif
