#pragma once
// What both fetch test files share: a loopback server per test, no cookies left from another
// test, and the default fetch limits before and after.

#include "http/fetch.h"

#include "tests/support/loopback_server.h"

#include <gtest/gtest.h>

#include <string>

namespace tovani::test {

class FetchFixture : public ::testing::Test {
protected:
    void SetUp() override {
        clear_cookie_store();
        set_fetch_limits({});
    }
    void TearDown() override { set_fetch_limits({}); }

    std::string host_line() const {
        return "Host: 127.0.0.1:" + std::to_string(server.port()) + "\r\n";
    }

    LoopbackServer server;
};

} // namespace tovani::test
