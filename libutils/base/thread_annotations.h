/* Thread-safety annotations: which lock guards which data, and which
 * functions take, release or need a lock, stated so that clang's
 * -Wthread-safety analysis checks them at compile time.  Other compilers
 * see nothing.  Valid C and C++.
 *
 *   TRANSYS_CAPABILITY(name)       a type that is a lock
 *   TRANSYS_SCOPED_CAPABILITY      a type whose objects hold a lock for their lifetime
 *   TRANSYS_GUARDED_BY(lock)       data read and written only while holding lock
 *   TRANSYS_REQUIRES(lock...)      a function the caller calls holding lock
 *   TRANSYS_ACQUIRE(lock...)       a function that returns holding lock
 *   TRANSYS_RELEASE(lock...)       a function that returns having released lock
 *   TRANSYS_TRY_ACQUIRE(result, lock...)
 *                                  a function that holds lock when it returns result
 *   TRANSYS_NO_THREAD_SAFETY_ANALYSIS
 *                                  a function the analysis leaves alone; say why
 *                                  where it is used
 *
 * An ACQUIRE or RELEASE without a lock names the object the member
 * function runs on. */
#ifndef LIBUTILS_BASE_THREAD_ANNOTATIONS_H
#define LIBUTILS_BASE_THREAD_ANNOTATIONS_H

#if defined(__clang__)
#define TRANSYS_THREAD_ANNOTATION(attribute) __attribute__((attribute))
#else
#define TRANSYS_THREAD_ANNOTATION(attribute)
#endif

#define TRANSYS_CAPABILITY(name) TRANSYS_THREAD_ANNOTATION(capability(name))
#define TRANSYS_SCOPED_CAPABILITY TRANSYS_THREAD_ANNOTATION(scoped_lockable)
#define TRANSYS_GUARDED_BY(lock) TRANSYS_THREAD_ANNOTATION(guarded_by(lock))
#define TRANSYS_REQUIRES(...) TRANSYS_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define TRANSYS_ACQUIRE(...) TRANSYS_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define TRANSYS_RELEASE(...) TRANSYS_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TRANSYS_TRY_ACQUIRE(...) TRANSYS_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define TRANSYS_NO_THREAD_SAFETY_ANALYSIS TRANSYS_THREAD_ANNOTATION(no_thread_safety_analysis)

#endif
