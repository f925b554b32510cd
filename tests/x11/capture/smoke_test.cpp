// The display fixture itself: a private Xvfb managed by openbox, and the backend reached through it.
#include <gtest/gtest.h>

#include "tests/support/x11_fixture.h"

namespace {

TEST(X11Display, StartsPrivateManagedDisplay) {
    ssptest::XServer x;
    ASSERT_TRUE(x.ok());
    EXPECT_EQ(x.display().rfind(":", 0), 0u);
    ssptest::RunResult r = x.run("shotgrant");
    EXPECT_EQ(r.status, 0) << r.err;
}

}  // namespace
