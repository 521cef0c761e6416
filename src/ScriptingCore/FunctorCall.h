#pragma once
// A bound call wrapped for another thread: it may keep its target object alive until it
// has run, and keeps the result (if any) for the thread that waits for it.

#include "logging.h"

#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

namespace FB {

class FunctorCall {
public:
    virtual ~FunctorCall() = default;
    virtual void call() = 0;
};

template <typename Functor, typename RT = std::invoke_result_t<Functor&>>
class FunctorCallImpl : public FunctorCall {
public:
    explicit FunctorCallImpl(Functor func) : m_func(std::move(func)) {}
    FunctorCallImpl(std::shared_ptr<void> reference, Functor func)
        : m_func(std::move(func)), m_reference(std::move(reference)) {}
    ~FunctorCallImpl() override { FBLOG_TRACE("FunctorCall", "Destroying FunctorCall object (non-void)"); }

    void call() override { m_result.emplace(m_func()); }
    // Only after call() has returned normally.
    RT takeResult() { return std::move(*m_result); }

private:
    Functor m_func;
    std::shared_ptr<void> m_reference;
    std::optional<RT> m_result;
};

template <typename Functor>
class FunctorCallImpl<Functor, void> : public FunctorCall {
public:
    explicit FunctorCallImpl(Functor func) : m_func(std::move(func)) {}
    FunctorCallImpl(std::shared_ptr<void> reference, Functor func)
        : m_func(std::move(func)), m_reference(std::move(reference)) {}
    ~FunctorCallImpl() override { FBLOG_TRACE("FunctorCall", "Destroying FunctorCall object (void)"); }

    void call() override { m_func(); }
    void takeResult() {}

private:
    Functor m_func;
    std::shared_ptr<void> m_reference;
};

} // namespace FB
