#include "http/tls_library.h"

#include "http/http_error.h"
#include "http/tls_session.h"

#include <openssl/ssl.h>

#include <mutex>
#include <string>

namespace vornel::http {

namespace {

std::mutex& libraryLock()
{
    static std::mutex lock;
    return lock;
}

std::string& folderSetting()
{
    static std::string folder;
    return folder;
}

bool& loadedFlag()
{
    static bool loaded = false;
    return loaded;
}

} // namespace

void setTlsLibraryFolder(const std::string& folder)
{
    std::lock_guard guard(libraryLock());
    if (folder.empty() || folder.back() == '/')
        folderSetting() = folder;
    else
        folderSetting() = folder + "/";
}

std::string tlsLibraryFolder()
{
    std::lock_guard guard(libraryLock());
    return folderSetting();
}

void ensureTlsLibrary()
{
    std::lock_guard guard(libraryLock());
    if (loadedFlag())
        return;
    // OpenSSL is linked into the program, so the folder setting has nothing to load.
    if (OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr) != 1)
        throw HttpError("EIdOSSLCouldNotLoadSSLLibrary", "Could not load SSL library.");
    loadedFlag() = true;
}

} // namespace vornel::http
