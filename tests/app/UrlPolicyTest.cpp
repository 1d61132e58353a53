#include <gtest/gtest.h>

#include "app/UrlPolicy.h"

using quillant::app::isTrustedURL;

struct UrlCase {
    const char* url;
    bool trusted;
};

class UrlPolicy : public ::testing::TestWithParam<UrlCase> {};

TEST_P(UrlPolicy, HttpsAnywhereHttpOnlyOnLoopback) { EXPECT_EQ(isTrustedURL(GetParam().url), GetParam().trusted); }

INSTANTIATE_TEST_SUITE_P(
    App, UrlPolicy,
    ::testing::Values(UrlCase{"https://dl.example/q.zip", true}, UrlCase{"HTTPS://DL.EXAMPLE/q.zip", true},
                      UrlCase{"http://127.0.0.1:8787/q.zip", true}, UrlCase{"http://127.1.2.3/x", true},
                      UrlCase{"http://localhost/x", true}, UrlCase{"http://[::1]:80/x", true},
                      UrlCase{"http://dl.example/q.zip", false}, UrlCase{"http://127.0.0.1.evil.example/x", false},
                      UrlCase{"http://127.0.0.256/x", false}, UrlCase{"http://user@127.0.0.1/x", false},
                      UrlCase{"file:///etc/passwd", false}, UrlCase{"ftp://dl.example/q.zip", false},
                      UrlCase{"https://", false}, UrlCase{"", false}, UrlCase{"https://a b/x", false},
                      UrlCase{"http+unix://%2Frun%2Fuser%2F1000%2Fquillant%2Fservice.sock/q.zip", true},
                      UrlCase{"http+unix://relative.sock/q.zip", false}, UrlCase{"http+unix://", false}));
