// Access to process-wide objects (logger, error handler, converter, ...).
//
// tk_singleton<T> does not create its object: the owner constructs a T where
// it likes and the object registers itself. The first T constructed wins;
// later ones are not registered. Destroying the registered object clears
// the registration; destroying an unregistered one leaves it alone.
//
// Registration happens on the main thread before any worker starts and is
// cleared after it ends; workers only read it.
#pragma once

#include <atomic>

#include "tk/tk_exception.h"

template <class T>
class tk_singleton {
public:
    tk_singleton(const tk_singleton&) = delete;
    tk_singleton& operator=(const tk_singleton&) = delete;

    // The registered object; tk_mail_assertion when there is none.
    static T* ptr() {
        tk_singleton* p = registered_.load(std::memory_order_acquire);
        TK_ASSERT(p != nullptr);
        return static_cast<T*>(p);
    }

    // The same as ptr(); kept for callers that use this name. It asserts
    // on its own line so that an assertion tells which accessor failed.
    static T* instance() {
        tk_singleton* p = registered_.load(std::memory_order_acquire);
        TK_ASSERT(p != nullptr);
        return static_cast<T*>(p);
    }

    // The registered object or null, for callers that may run without it.
    static T* try_ptr() noexcept { return static_cast<T*>(registered_.load(std::memory_order_acquire)); }

    static bool exists() noexcept { return try_ptr() != nullptr; }

protected:
    tk_singleton() noexcept {
        tk_singleton* expected = nullptr;
        registered_.compare_exchange_strong(expected, this, std::memory_order_acq_rel);
    }

    virtual ~tk_singleton() {
        tk_singleton* expected = this;
        registered_.compare_exchange_strong(expected, nullptr, std::memory_order_acq_rel);
    }

private:
    // Held as the base pointer: the derived part is not yet built when the
    // constructor registers it.
    static inline std::atomic<tk_singleton*> registered_{nullptr};
};
