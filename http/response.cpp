#include "http/header_fields.h"
#include "http/http_client.h"

namespace vornel::http {

std::string Response::header(const std::string& name) const
{
    return findHeader(RawHeaders, name).value_or(std::string());
}

} // namespace vornel::http
