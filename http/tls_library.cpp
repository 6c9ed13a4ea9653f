#include "http/tls_library.h"

#include "http/http_error.h"
#include "http/tls_session.h"

#include <dlfcn.h>
#include <unistd.h>

#include <mutex>
#include <string>
#include <vector>

namespace vornel::http {

namespace {

const char* const kCryptoFile = "libcrypto.so.3";
const char* const kSslFile = "libssl.so.3";

// All of it guarded by libraryLock(); the table is written only while not loaded, and read
// only after a load has succeeded.
struct LibraryState {
    std::string folder;
    void* crypto = nullptr;
    void* ssl = nullptr;
    bool loaded = false;
    std::string failure;
    TlsApi api;
};

std::mutex& libraryLock()
{
    static std::mutex lock;
    return lock;
}

LibraryState& state()
{
    static LibraryState library;
    return library;
}

// The folder's copy when it has one, else the system's; null with the failure recorded.
void* openLibrary(LibraryState& library, const std::string& file)
{
    std::string path = file;
    if (!library.folder.empty() && ::access((library.folder + file).c_str(), F_OK) == 0)
        path = library.folder + file;
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        library.failure = "Failed to load " + path + ".";
    return handle;
}

template <typename Function>
void resolve(void* handle, const char* name, Function& entry, std::vector<std::string>& missing)
{
    entry = reinterpret_cast<Function>(::dlsym(handle, name));
    if (!entry)
        missing.emplace_back(name);
}

#define VORNEL_RESOLVE(handle, name) resolve(handle, #name, api.name, missing)

// The names of the entry points that could not be found.
std::vector<std::string> resolveAll(void* crypto, void* ssl, TlsApi& api)
{
    std::vector<std::string> missing;
    VORNEL_RESOLVE(crypto, ERR_get_error);
    VORNEL_RESOLVE(crypto, ERR_peek_error);
    VORNEL_RESOLVE(crypto, ERR_clear_error);
    VORNEL_RESOLVE(crypto, ERR_error_string_n);
    VORNEL_RESOLVE(ssl, OPENSSL_init_ssl);
    VORNEL_RESOLVE(ssl, TLS_client_method);
    VORNEL_RESOLVE(ssl, SSL_CTX_new);
    VORNEL_RESOLVE(ssl, SSL_CTX_free);
    VORNEL_RESOLVE(ssl, SSL_CTX_ctrl);
    VORNEL_RESOLVE(ssl, SSL_CTX_set_options);
    VORNEL_RESOLVE(ssl, SSL_CTX_set_verify);
    VORNEL_RESOLVE(ssl, SSL_CTX_set_security_level);
    VORNEL_RESOLVE(ssl, SSL_CTX_set_cipher_list);
    VORNEL_RESOLVE(ssl, SSL_new);
    VORNEL_RESOLVE(ssl, SSL_free);
    VORNEL_RESOLVE(ssl, SSL_set_ex_data);
    VORNEL_RESOLVE(ssl, SSL_set_fd);
    VORNEL_RESOLVE(ssl, SSL_ctrl);
    VORNEL_RESOLVE(ssl, SSL_connect);
    VORNEL_RESOLVE(ssl, SSL_read);
    VORNEL_RESOLVE(ssl, SSL_write);
    VORNEL_RESOLVE(ssl, SSL_pending);
    VORNEL_RESOLVE(ssl, SSL_get_error);
    VORNEL_RESOLVE(ssl, SSL_shutdown);
    return missing;
}

#undef VORNEL_RESOLVE

bool load(LibraryState& library)
{
    // A library that loaded on an earlier attempt is kept.
    if (!library.crypto && !(library.crypto = openLibrary(library, kCryptoFile)))
        return false;
    if (!library.ssl && !(library.ssl = openLibrary(library, kSslFile)))
        return false;
    const std::vector<std::string> missing = resolveAll(library.crypto, library.ssl, library.api);
    if (!missing.empty()) {
        library.failure = "Missing entry points:";
        for (const std::string& name : missing)
            library.failure += " " + name;
        return false;
    }
    if (library.api.OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr) != 1) {
        library.failure = "The library did not initialise.";
        return false;
    }
    return true;
}

} // namespace

void setTlsLibraryFolder(const std::string& folder)
{
    std::lock_guard guard(libraryLock());
    if (folder.empty() || folder.back() == '/')
        state().folder = folder;
    else
        state().folder = folder + "/";
}

std::string tlsLibraryFolder()
{
    std::lock_guard guard(libraryLock());
    return state().folder;
}

void ensureTlsLibrary()
{
    std::lock_guard guard(libraryLock());
    LibraryState& library = state();
    if (library.loaded)
        return;
    if (!load(library))
        throw HttpError(FailureKind::OSSLCouldNotLoadSSLLibrary, "Could not load SSL library.");
    library.loaded = true;
}

const TlsApi& tlsApi()
{
    return state().api;
}

std::string tlsLibraryFailure()
{
    std::lock_guard guard(libraryLock());
    return state().failure;
}

} // namespace vornel::http
