#include "core/operator.h"
