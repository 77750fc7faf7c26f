#include "Common/Exceptions.h"

namespace synapsor {

TException::TException(const char* msg, const char* knd)
    : message(msg ? msg : ""), kind(knd ? knd : ""), hasMessage(msg != nullptr),
      hasKind(knd != nullptr) {}

TException::TException(const char* msg, const char* knd, const char* loc,
                       std::shared_ptr<TKQstructure> det)
    : message(msg ? msg : ""), kind(knd ? knd : ""), details(std::move(det)),
      location(loc ? loc : ""), hasMessage(msg != nullptr), hasKind(knd != nullptr),
      hasLocation(loc != nullptr) {}

}  // namespace synapsor
