#include "logging/readings_record.h"
