// A scoped heap array: `n` elements allocated on construction, freed on
// destruction.  Neither copyable nor assignable.
#ifndef LIBUTILS_CSGL_CSGL_LOCAL_HPP
#define LIBUTILS_CSGL_CSGL_LOCAL_HPP

#include <new>

#include "libutils/csgl/csgl_ban.hpp"
#include "libutils/csgl/csgl_exc.hpp"

template <class T>
class csgl_local_array_of : public csgl_ban_copy_and_assignment {
public:
    // Throws exc_not_enough_memory_t when the array cannot be allocated.
    explicit csgl_local_array_of(unsigned int n)
        : elements_(exc_if_no_mem(__FILE__, __LINE__, new (std::nothrow) T[n])) {}
    ~csgl_local_array_of() { delete[] elements_; }

    // No bounds check: `i` must lie in [0, n).
    T& operator[](int i) const { return elements_[i]; }
    operator T*() const { return elements_; }

private:
    T* elements_;
};

#endif
