// A test on the reference host library: a fresh host with its log sink quiet before
// each case, and reset after it.
#pragma once

#include <gtest/gtest.h>
#include <zanpro/host.h>

#include <string_view>

namespace roderavo_test {

class QuietHostTest : public ::testing::Test {
  protected:
    void SetUp() override {
        zanpro::Reset();
        zanpro::SetLogSink([](int32_t, std::string_view) {});
    }
    void TearDown() override {
        zanpro::Reset();
        zanpro::SetLogSink({});
    }
};

}  // namespace roderavo_test
