// The module's single export: the host calls it once after loading the
// module and reads the filter descriptor it returns.
#pragma once

#include "host/host_api.h"

extern "C" FILTER_DLL* LP_STDCALL GetFilterTable(void);
