#pragma once
// A value or the sentence that says why there is none. Postage functions
// return it instead of throwing: the caller shows the sentence as it is.

#include <string>
#include <utility>
#include <variant>

namespace tw::postage {

template <typename T> class Checked {
  public:
    Checked(T value) : m_state(std::move(value)) {}
    static Checked failure(std::string message) { return Checked(Failure{std::move(message)}); }

    bool ok() const { return std::holds_alternative<T>(m_state); }
    explicit operator bool() const { return ok(); }

    // Only when ok().
    T &value() { return std::get<T>(m_state); }
    const T &value() const { return std::get<T>(m_state); }
    T *operator->() { return &value(); }
    const T *operator->() const { return &value(); }

    // Empty when ok().
    std::string error() const { return ok() ? std::string() : std::get<Failure>(m_state).message; }

  private:
    struct Failure {
        std::string message;
    };
    explicit Checked(Failure f) : m_state(std::move(f)) {}
    std::variant<T, Failure> m_state;
};

} // namespace tw::postage
