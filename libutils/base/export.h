/* The mark that puts a declaration into libtransys's exported interface.
 *
 * The library is built with hidden visibility, so a function, class or
 * object of its sources that is not marked stays internal; the linker's
 * version script (libtransys/exports.map) then keeps the exported names to
 * the documented families.  Valid C and C++. */
#ifndef LIBUTILS_BASE_EXPORT_H
#define LIBUTILS_BASE_EXPORT_H

#define TRANSYS_EXPORT __attribute__((visibility("default")))

#endif
