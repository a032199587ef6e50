#include "velmot/core/logit.h"
