// The interface, class and library identifiers of the options library, defined once.
#include <initguid.h>
#include "options/HvToolsOpts_i.h"
