// Checks that an operation throws an exception of class E (or derived from
// it) with the expected text and code, raised in the expected source file.
#ifndef TESTS_SUPPORT_EXPECT_FAILURE_HPP
#define TESTS_SUPPORT_EXPECT_FAILURE_HPP

#include <gtest/gtest.h>

#include <functional>

#include "libutils/csgl/csgl_exc.hpp"

template <class E = exc_t>
void expect_failure(const std::function<void()>& operation, const char* file, const char* text,
                    unsigned long error) {
    try {
        operation();
        ADD_FAILURE() << "nothing thrown, expected " << text;
    } catch (const exc_t& e) {
        EXPECT_NE(dynamic_cast<const E*>(&e), nullptr) << text;
        EXPECT_STREQ(e.message().msg_string(), text);
        EXPECT_EQ(e.error, error) << text;
        EXPECT_STREQ(e.file, file) << text;
    }
}

#endif
