#include "libutils/csgl/csgl_trc.hpp"

#include "libutils/trace/trace_core.hpp"

void csgl_trc_exit(unsigned long id, unsigned long kind, unsigned long /*mask*/,
                   const void* object) {
    trace_write_code(trace_type(trace_component_support, kind), id, object, 0);
}

void csgl_trc_exit(unsigned long id, unsigned long kind, unsigned long mask) {
    csgl_trc_exit(id, kind, mask, nullptr);
}
