// The one failure type of the library. Core code throws it where a step cannot
// continue (a window that cannot be allocated, an index the design allows to be
// out of range); nothing in the core catches it.
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace lumenfold {

class Panic : public std::exception {
public:
    explicit Panic(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& message() const noexcept { return message_; }

private:
    std::string message_;
};

}  // namespace lumenfold
