// The one exception fence: code written with std::string, std::vector and
// new runs inside it, so that memory exhaustion never leaves a C-style
// interface as an exception.
#pragma once

#include <new>
#include <stdexcept>

// Runs body and returns its result. When it throws std::bad_alloc (memory
// ran out) or std::length_error (a size past what a container can hold,
// which is memory exhaustion by another name), returns on_nomem() instead;
// on_nomem records the failure in the caller's own way and gives the
// caller's out-of-memory result. Any other exception is a fault and passes.
template <class Body, class OnNoMem> auto fence_nomem(Body &&body, OnNoMem &&on_nomem) -> decltype(body())
{
    try {
        return body();
    } catch (const std::bad_alloc &) {
    } catch (const std::length_error &) {
    }
    return on_nomem();
}
