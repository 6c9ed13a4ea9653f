// The names of the failure kinds: one for each kind, none shared.
#include "http/failure_kind.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

using vornel::http::FailureKind;
using vornel::http::kindName;

TEST(FailureKindNames, EachKindHasANameOfItsOwn)
{
    std::set<std::string> names;
    const auto last = static_cast<int>(FailureKind::OpenSSLAPISSLError);
    for (int value = 0; value <= last; ++value) {
        const std::string name(kindName(static_cast<FailureKind>(value)));
        EXPECT_EQ(name.rfind("EId", 0), 0u) << name;
        EXPECT_TRUE(names.insert(name).second) << name << " names two kinds";
    }
}

} // namespace
