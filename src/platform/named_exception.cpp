#include "platform/named_exception.h"

namespace platform {

NamedException::NamedException(std::string name, std::string reason)
    : std::runtime_error(name + ": " + reason), name_(std::move(name)), reason_(std::move(reason)) {}

}  // namespace platform
