// Internal to the trace front-ends: carrying a va_list through the untyped
// `void* args` parameter of the record writers, and formatting it into a
// fixed area.  On i386 a va_list is a pointer and travels as its value; on
// x86_64 it is an array and travels as the address of its first element,
// which is what a va_list argument decays to anyway.
#ifndef LIBUTILS_TRACE_TRACE_TEXT_HPP
#define LIBUTILS_TRACE_TRACE_TEXT_HPP

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <type_traits>

template <class VaList>
void* trace_va_pointer(VaList& args) {
    if constexpr (std::is_array_v<VaList>) {
        return &args[0];
    } else {
        void* untyped;
        static_assert(sizeof untyped == sizeof args, "va_list is not pointer-sized");
        std::memcpy(&untyped, &args, sizeof untyped);
        return untyped;
    }
}

// Formats into `area` of `size` bytes (NUL included) and returns the length
// of the text kept there: a text too long for the area is cut.
template <class VaList = va_list>
unsigned long trace_format(char* area, std::size_t size, const char* format, void* args) {
    int length;
    if constexpr (std::is_array_v<VaList>) {
        length =
            std::vsnprintf(area, size, format, static_cast<std::remove_extent_t<VaList>*>(args));
    } else {
        VaList list;
        std::memcpy(&list, &args, sizeof list);
        length = std::vsnprintf(area, size, format, list);
    }
    if (length < 0) {
        area[0] = '\0';
        return 0;
    }
    return static_cast<std::size_t>(length) < size ? static_cast<unsigned long>(length)
                                                   : static_cast<unsigned long>(size - 1);
}

#endif
