#pragma once
// One-time initialisation of the TLS library for the whole process.

namespace vornel::http {

// Initialises OpenSSL once; throws "Could not load SSL library." when that fails
// (a later call tries again).
void ensureTlsLibrary();

} // namespace vornel::http
