#include "velmot/core/osys.h"
