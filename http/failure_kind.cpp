#include "http/failure_kind.h"

#include <cstddef>
#include <iterator>

namespace vornel::http {
namespace {

struct KindName {
    FailureKind kind;
    std::string_view name;
};

// In the order of the enum, which kindName() relies on (checked below).
constexpr KindName kKindNames[] = {
    {FailureKind::Exception, "EIdException"},
    {FailureKind::ClientBusy, "EIdClientBusy"},
    {FailureKind::UnknownProtocol, "EIdUnknownProtocol"},
    {FailureKind::IOHandlerPropInvalid, "EIdIOHandlerPropInvalid"},
    {FailureKind::RequestAborted, "EIdRequestAborted"},
    {FailureKind::ConnectException, "EIdConnectException"},
    {FailureKind::ConnectTimeout, "EIdConnectTimeout"},
    {FailureKind::SocketError, "EIdSocketError"},
    {FailureKind::ReadTimeout, "EIdReadTimeout"},
    {FailureKind::ConnClosedGracefully, "EIdConnClosedGracefully"},
    {FailureKind::ReadLnMaxLineLengthExceeded, "EIdReadLnMaxLineLengthExceeded"},
    {FailureKind::HeaderBlockTooLarge, "EIdHeaderBlockTooLarge"},
    {FailureKind::ChunkSizeTooLarge, "EIdChunkSizeTooLarge"},
    {FailureKind::BodyTooLarge, "EIdBodyTooLarge"},
    {FailureKind::HTTPProtocolException, "EIdHTTPProtocolException"},
    {FailureKind::OSSLCouldNotLoadSSLLibrary, "EIdOSSLCouldNotLoadSSLLibrary"},
    {FailureKind::OSSLGetMethodError, "EIdOSSLGetMethodError"},
    {FailureKind::OSSLCreatingContextError, "EIdOSSLCreatingContextError"},
    {FailureKind::OSSLSettingCipherError, "EIdOSSLSettingCipherError"},
    {FailureKind::OSSLCreatingSessionError, "EIdOSSLCreatingSessionError"},
    {FailureKind::OSSLDataBindingError, "EIdOSSLDataBindingError"},
    {FailureKind::OSSLFDSetError, "EIdOSSLFDSetError"},
    {FailureKind::OSSLConnectError, "EIdOSSLConnectError"},
    {FailureKind::OSSLUnderlyingCryptoError, "EIdOSSLUnderlyingCryptoError"},
    {FailureKind::OpenSSLAPISSLError, "EIdOpenSSLAPISSLError"},
};

constexpr bool inEnumOrder()
{
    for (std::size_t i = 0; i < std::size(kKindNames); ++i)
        if (static_cast<std::size_t>(kKindNames[i].kind) != i)
            return false;
    return static_cast<std::size_t>(FailureKind::OpenSSLAPISSLError) + 1 == std::size(kKindNames);
}
static_assert(inEnumOrder(), "every failure kind has its name, in the order of the enum");

} // namespace

std::string_view kindName(FailureKind kind)
{
    const auto index = static_cast<std::size_t>(kind);
    return index < std::size(kKindNames) ? kKindNames[index].name : std::string_view("EIdException");
}

} // namespace vornel::http
