#pragma once
// The TLS library (OpenSSL 3), loaded at run time on the first https connection, so that a
// program that only speaks plain http never maps it. The library comes from the TLS library
// folder when that folder holds it, from the system's library search otherwise.
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <string>

namespace vornel::http {

// The library's entry points that the TLS transport uses, named as the library names them.
struct TlsApi {
    decltype(&::OPENSSL_init_ssl) OPENSSL_init_ssl = nullptr;
    decltype(&::TLS_client_method) TLS_client_method = nullptr;
    decltype(&::SSL_CTX_new) SSL_CTX_new = nullptr;
    decltype(&::SSL_CTX_free) SSL_CTX_free = nullptr;
    decltype(&::SSL_CTX_ctrl) SSL_CTX_ctrl = nullptr;
    decltype(&::SSL_CTX_set_options) SSL_CTX_set_options = nullptr;
    decltype(&::SSL_CTX_set_verify) SSL_CTX_set_verify = nullptr;
    decltype(&::SSL_CTX_set_security_level) SSL_CTX_set_security_level = nullptr;
    decltype(&::SSL_CTX_set_cipher_list) SSL_CTX_set_cipher_list = nullptr;
    decltype(&::SSL_new) SSL_new = nullptr;
    decltype(&::SSL_free) SSL_free = nullptr;
    decltype(&::SSL_set_ex_data) SSL_set_ex_data = nullptr;
    decltype(&::SSL_set_fd) SSL_set_fd = nullptr;
    decltype(&::SSL_ctrl) SSL_ctrl = nullptr;
    decltype(&::SSL_connect) SSL_connect = nullptr;
    decltype(&::SSL_read) SSL_read = nullptr;
    decltype(&::SSL_write) SSL_write = nullptr;
    decltype(&::SSL_pending) SSL_pending = nullptr;
    decltype(&::SSL_get_error) SSL_get_error = nullptr;
    decltype(&::SSL_shutdown) SSL_shutdown = nullptr;
    decltype(&::ERR_get_error) ERR_get_error = nullptr;
    decltype(&::ERR_peek_error) ERR_peek_error = nullptr;
    decltype(&::ERR_clear_error) ERR_clear_error = nullptr;
    decltype(&::ERR_error_string_n) ERR_error_string_n = nullptr;
};

// Loads and initialises the library once per process; throws "Could not load SSL library."
// when a file does not load or an entry point is missing (a later call tries again).
void ensureTlsLibrary();
// The entry points; only after ensureTlsLibrary() has succeeded.
const TlsApi& tlsApi();
// Why the last load failed: "Failed to load <file>." or the missing entry points; "" when
// no load has failed.
std::string tlsLibraryFailure();

} // namespace vornel::http
