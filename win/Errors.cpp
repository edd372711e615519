#include "win/Errors.h"

namespace hv {

failure_logger& FailureLogger() noexcept {
    static failure_logger logger = nullptr;
    return logger;
}

}  // namespace hv
