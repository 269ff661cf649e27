// The plain program's TLS stand-in: every entry point refuses, and no TLS
// library is loaded into a program linked with it.
#include "net/tls.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/unit/helpers.h"

namespace {

TEST(NetPlain, EveryTlsEntryRefuses)
{
    Connection *c = ip_new(CONN_TCP, 0, CONN_WAIT);
    ASSERT_NE(c, nullptr);
    const char *err = nullptr;
    EXPECT_EQ(ip_tls_start(c, 0, &err, "localhost", 1, nullptr, nullptr), 0);
    EXPECT_STREQ(err, "TLS is not available in this program");
    err = nullptr;
    EXPECT_EQ(ip_tls_server_setup(&err, "k", "c", nullptr, nullptr), 0);
    EXPECT_STREQ(err, "TLS is not available in this program");
    err = nullptr;
    EXPECT_EQ(ip_tls_check_protocols("all", &err), 0);
    EXPECT_STREQ(err, "TLS is not available in this program");
    err = nullptr;
    EXPECT_EQ(ip_tls_check_ciphers("all", &err), 0);
    EXPECT_STREQ(err, "TLS is not available in this program");
    ip_tls_set_ca_file_for_tests("x");
    EXPECT_EQ(ip_free(c), 1);
}

TEST(NetPlain, NoTlsLibraryInTheProcess)
{
    std::string maps = read_file("/proc/self/maps");
    ASSERT_FALSE(maps.empty());
    EXPECT_EQ(maps.find("libtls"), std::string::npos);
    EXPECT_EQ(maps.find("libssl"), std::string::npos);
}

} // namespace
