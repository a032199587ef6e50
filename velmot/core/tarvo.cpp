#include "velmot/core/tarvo.h"
