// Internal to the library: the size of the block allocated for a need of
// `n` bytes.  Powers of two from 8 up to 1024, then the next multiple of
// 1024 strictly above the need (so 2048 gets 3072).
#ifndef LIBUTILS_CSGL_CSGL_ALLOCATION_SIZE_HPP
#define LIBUTILS_CSGL_CSGL_ALLOCATION_SIZE_HPP

inline unsigned int allocation_size(unsigned int n) {
    if (n > 1024) return n + 1024 - n % 1024;
    unsigned int size = 8;
    while (size < n) size *= 2;
    return size;
}

#endif
