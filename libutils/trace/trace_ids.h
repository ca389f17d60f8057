/* What the library's trace records are made of, stated once: the trace
 * components, the record kinds, the event bits of trcEvents, the debug
 * level of debug texts, and the ids of the traced functions and classes
 * with their names.
 *
 * The trace front-ends (ldtr, cstr) and the traced code take their
 * constants from here, and the stand-in of the host's trace service
 * (host/trc_service.c) takes the names it writes for kinds and ids from the
 * same lists.  Valid C (C99 and later) and C++; constants only, no symbol.
 *
 * A record type is the component in its top byte and the kind in the next,
 * the low 16 bits 0.  An id names a function or a class; its low byte may
 * carry a sub-number that a formatter ORs in. */
#ifndef LIBUTILS_TRACE_TRACE_IDS_H
#define LIBUTILS_TRACE_TRACE_IDS_H

/* The component byte of a record type: who wrote the record. */
enum trace_component {
    trace_component_support = 0x02,   /* the support library (cstr) */
    trace_component_directory = 0x03  /* the directory server's code (ldtr) */
};

/* The record kinds: X(value, identifier, name in a trace). */
#define TRACE_RECORD_KINDS(X)          \
    X(0x20, entry, "entry")            \
    X(0x21, exit, "exit")              \
    X(0x0B, error_exit, "error-exit")  \
    X(0x07, text, "text")              \
    X(0x1E, created, "created")        \
    X(0x1F, destroyed, "destroyed")    \
    X(0x22, data, "data")              \
    X(0x40, debug, "debug")

/* trace_kind_entry, trace_kind_exit, ... */
enum trace_record_kind {
#define TRACE_KIND_CONSTANT(value, identifier, name) trace_kind_##identifier = (value),
    TRACE_RECORD_KINDS(TRACE_KIND_CONSTANT)
#undef TRACE_KIND_CONSTANT
};

/* The bits of trcEvents that switch records on. */
enum trace_event {
    trace_event_error = 0x40,          /* error texts of the support library */
    trace_event_objects = 0x800,       /* creation and destruction of objects */
    trace_event_entry = 0x1000,        /* function entries; with the next, exits */
    trace_event_error_exit = 0x2000,   /* exits with a code not 0 become error exits */
    trace_event_data = 0x4000,         /* the file handle's size record */
    trace_event_debug = 0x4000000      /* debug texts of the time-out sweep */
};

/* The size of the area a text record is formatted into, terminating NUL
 * included: a record's text has at most trace_text_area - 1 bytes. */
enum { trace_text_area = 8192 };

/* The debug level whose texts become text records (kind 0x07).  A global
 * formatter's debug writes it whole as the id; the service names that id
 * "debug_text".  Wider than an int, so no enumerator. */
static const unsigned long trace_debug_text_level = 0xC8110000UL;

/* The functions of the transaction interface: X(number, function).  Their
 * ids are trace_tran_api_base + 0x100 * number. */
#define TRACE_TRAN_API_FUNCTIONS(X)          \
    X(0x01, tran_api_system_init)           \
    X(0x02, tran_api_create_transaction)    \
    X(0x03, tran_api_delete_transaction)    \
    X(0x04, tran_api_set_maxop)             \
    X(0x05, tran_api_set_maxnum)            \
    X(0x06, tran_api_set_tlimit)            \
    X(0x07, tran_api_system_maxop)          \
    X(0x08, tran_api_system_maxnum)         \
    X(0x09, tran_api_system_tlimit)         \
    X(0x0A, tran_api_system_lock)           \
    X(0x0B, tran_api_system_unlock)         \
    X(0x0C, tran_api_set_err)               \
    X(0x0D, tran_api_timeout_transactions)  \
    X(0x0E, tran_api_conn_list_new)         \
    X(0x0F, tran_api_conn_list_delete)      \
    X(0x10, tran_api_conn_list_insert)      \
    X(0x11, tran_api_system_err)

/* The traced classes of the support library: X(number, class).  A class's
 * id, trace_support_base + 0x10000 * number, also names the records of its
 * objects' creation and destruction. */
#define TRACE_SUPPORT_CLASSES(X)        \
    X(0x03, csgl_file)                 \
    X(0x08, csgl_output_file)          \
    X(0x11, csgl_sync_value)           \
    X(0x12, csgl_sync_lock_private)    \
    X(0x13, csgl_sync_lock_shared)     \
    X(0x14, csgl_sync_monitor)         \
    X(0x16, csgl_sync_sema_private)    \
    X(0x17, csgl_sync_sema_shared)     \
    X(0x1B, exc_t)

/* The functions of those classes that write records of their own:
 * X(class, number, function), id the class's id + 0x100 * number.  The
 * numbers of csgl_file's operations are their places in the alphabetical
 * order of its functions. */
#define TRACE_SUPPORT_FUNCTIONS(X)                 \
    X(csgl_file, 0x01, append)                    \
    X(csgl_file, 0x03, copy)                      \
    X(csgl_file, 0x06, flush)                     \
    X(csgl_file, 0x08, read)                      \
    X(csgl_file, 0x09, remove)                    \
    X(csgl_file, 0x0A, rename)                    \
    X(csgl_file, 0x0B, seek)                      \
    X(csgl_file, 0x0C, size)                      \
    X(csgl_file, 0x10, truncate)                  \
    X(csgl_file, 0x11, write)                     \
    X(csgl_output_file, 0x04, std_error)          \
    X(exc_t, 0x01, exc_t)

/* The ids: trace_id_tran_api_create_transaction, trace_id_csgl_file,
 * trace_id_csgl_file_read, trace_id_exc_t_exc_t, ... */
enum trace_id {
    trace_tran_api_base = 0x3C020000,
    trace_support_base = 0x14000000,
#define TRACE_TRAN_API_ID(number, function) \
    trace_id_##function = trace_tran_api_base + 0x100 * (number),
    TRACE_TRAN_API_FUNCTIONS(TRACE_TRAN_API_ID)
#undef TRACE_TRAN_API_ID
#define TRACE_CLASS_ID(number, class_) trace_id_##class_ = trace_support_base + 0x10000 * (number),
    TRACE_SUPPORT_CLASSES(TRACE_CLASS_ID)
#undef TRACE_CLASS_ID
#define TRACE_FUNCTION_ID(class_, number, function) \
    trace_id_##class_##_##function = trace_id_##class_ + 0x100 * (number),
    TRACE_SUPPORT_FUNCTIONS(TRACE_FUNCTION_ID)
#undef TRACE_FUNCTION_ID
};

#ifdef __cplusplus
/* The record type of `kind` written by `component`. */
constexpr unsigned long trace_type(unsigned long component, unsigned long kind) {
    return component * 0x1000000 + kind * 0x10000;
}
#endif

#endif
