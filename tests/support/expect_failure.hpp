// Checks that an operation throws an exception of the library's tree with
// the expected text and code (fixed codes name the class), raised in the
// expected source file.
#ifndef TESTS_SUPPORT_EXPECT_FAILURE_HPP
#define TESTS_SUPPORT_EXPECT_FAILURE_HPP

#include <gtest/gtest.h>

#include <functional>

#include "libutils/csgl/csgl_exc.hpp"

inline void expect_failure(const std::function<void()>& operation, const char* file,
                           const char* text, unsigned long error) {
    try {
        operation();
        ADD_FAILURE() << "nothing thrown, expected " << text;
    } catch (const exc_t& e) {
        EXPECT_STREQ(e.message().msg_string(), text);
        EXPECT_EQ(e.error, error) << text;
        EXPECT_STREQ(e.file, file) << text;
    }
}

#endif
