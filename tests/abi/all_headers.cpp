// Every header of the binary interface in one translation unit, compiled as C++17 and as
// C++20 with -pedantic: a host written to either standard must be able to include them.
#include "abi/event_record.h"
#include "abi/factory_interfaces.h"
#include "abi/guid.h"
#include "abi/host_interface.h"
#include "abi/mp_unknown.h"
#include "abi/plugin_interfaces.h"
