#pragma once

#include "device/M1620Error.h"

#include <utility>
#include <variant>

// The outcome of one exchange: a value or an M1620Error. Failures are values, never exceptions.
template<typename T> class M1620Result
{
public:
    M1620Result(T value)
        : m_outcome(std::move(value))
    { }
    M1620Result(M1620Error error)
        : m_outcome(std::move(error))
    { }

    bool ok() const { return std::holds_alternative<T>(m_outcome); }
    const T &value() const { return std::get<T>(m_outcome); }
    const M1620Error &error() const { return std::get<M1620Error>(m_outcome); }

private:
    std::variant<T, M1620Error> m_outcome;
};

// For exchanges whose answer carries nothing the caller needs.
struct M1620Done
{
};
