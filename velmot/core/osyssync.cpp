#include "velmot/core/osyssync.h"
