#include "libutils/csgl/csgl_trc.hpp"

#include <cstdint>

void csgl_trc_exit(unsigned long id, unsigned long kind, unsigned long /*mask*/,
                   const void* object) {
    const std::int32_t no_code = 0;
    trcWriteRec(0x02000000 + kind * 0x10000, id, object, sizeof no_code, &no_code, 0, 0, 0, 0);
}

void csgl_trc_exit(unsigned long id, unsigned long kind, unsigned long mask) {
    csgl_trc_exit(id, kind, mask, nullptr);
}
