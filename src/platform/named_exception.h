// The exception that the interface-side objects raise: a name and a reason text,
// in the manner of the platform exceptions the design was written against.
#pragma once

#include <stdexcept>
#include <string>

namespace platform {

class NamedException : public std::runtime_error {
public:
    NamedException(std::string name, std::string reason);
    const std::string& name() const { return name_; }
    const std::string& reason() const { return reason_; }

private:
    std::string name_;
    std::string reason_;
};

}  // namespace platform
