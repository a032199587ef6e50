#include "velmot/core/strings.h"
