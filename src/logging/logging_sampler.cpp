#include "logging/logging_sampler.h"

namespace quorna {

void LoggingSampler() {}

}  // namespace quorna
