// Reference counting for shared bodies (string and message
// representations).
//
// `csgl_refcounted<T>` is the base of a shared object of most-derived type
// T; its count is a locked counter that starts at 0.  A
// `csgl_refcounted_pointer_to<T>` accounts for exactly one unit of the count
// while it points at an object; the step that takes the count to 0 deletes
// the object.  Handles of one object may be copied, assigned and destroyed
// concurrently from different threads; one handle object itself must not be
// assigned in one thread while used in another.
#ifndef LIBUTILS_CSGL_CSGL_REFCOUNTED_HPP
#define LIBUTILS_CSGL_CSGL_REFCOUNTED_HPP

#include "libutils/csgl/csgl_sync.hpp"

template <class T>
class csgl_refcounted {
public:
    csgl_refcounted() : count_(0) {}
    csgl_refcounted(const csgl_refcounted&) = delete;
    csgl_refcounted& operator=(const csgl_refcounted&) = delete;
    ~csgl_refcounted() {}

    void refcount_increment() { count_.increment(); }
    void refcount_decrement() {
        if (count_.decrement() == 0) delete static_cast<T*>(this);
    }

private:
    csgl_sync_value count_;
};

template <class T>
class csgl_refcounted_pointer_to {
public:
    csgl_refcounted_pointer_to() : pointee_(nullptr) {}
    explicit csgl_refcounted_pointer_to(T* pointee) : pointee_(pointee) {
        if (pointee_) pointee_->refcount_increment();
    }
    csgl_refcounted_pointer_to(const csgl_refcounted_pointer_to& other) : pointee_(other.pointee_) {
        if (pointee_) pointee_->refcount_increment();
    }
    ~csgl_refcounted_pointer_to() {
        if (pointee_) pointee_->refcount_decrement();
    }

    // Increments the source before releasing the own object, so assigning a
    // handle to itself, or to another handle of the same object, is safe.
    csgl_refcounted_pointer_to& operator=(const csgl_refcounted_pointer_to& other) {
        if (other.pointee_) other.pointee_->refcount_increment();
        if (pointee_) pointee_->refcount_decrement();
        pointee_ = other.pointee_;
        return *this;
    }

    T* operator->() const { return pointee_; }
    operator T*() const { return pointee_; }

private:
    T* pointee_;
};

#endif
