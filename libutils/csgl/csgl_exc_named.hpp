// Throwing a class of the exception tree under its own name, as the support
// library's throw sites do when they have no description to give: the text
// is the class name without its "_t" ("exc_not_enough_disk"), taken from
// the class's row in csgl_exc_tree.def.
//
// Internal to the library: not installed, and nothing here is exported.
#ifndef LIBUTILS_CSGL_CSGL_EXC_NAMED_HPP
#define LIBUTILS_CSGL_CSGL_EXC_NAMED_HPP

#include "libutils/csgl/csgl_exc.hpp"

// The name of class E without its "_t".  Defined for every class of the
// list; any other class has none, so naming it does not compile.
template <class E>
constexpr const char* exc_class_text();

#define CSGL_EXC_CLASS(name, base, forms, code)              \
    template <>                                              \
    constexpr const char* exc_class_text<exc_##name##_t>() { \
        return "exc_" #name;                                 \
    }
#include "libutils/csgl/csgl_exc_tree.def"

// Throws a copy of E built with form B from the caller's file and line, the
// name of E as its text and no catalogue message.
template <class E>
[[noreturn]] void exc_throw_named(const char* file, int line) {
    exc_throw(E(file, line, exc_class_text<E>(), 0));
}

#endif
