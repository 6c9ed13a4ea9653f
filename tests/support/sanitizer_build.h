#pragma once
// Whether this test program is built with AddressSanitizer or ThreadSanitizer. Their shadow
// memory and the quarantine of freed blocks count towards the process's peak, so tests skip
// their memory-bound checks there (the plain build checks them).

namespace vornel::test {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitizerBuild = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool kSanitizerBuild = true;
#else
inline constexpr bool kSanitizerBuild = false;
#endif
#else
inline constexpr bool kSanitizerBuild = false;
#endif

} // namespace vornel::test
