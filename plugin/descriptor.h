// The filter descriptor the export hands to the host, and the texts it
// shows. The texts are bytes in code page 932 (Shift-JIS), as the host
// displays them.
#pragma once

#include "host/host_api.h"

namespace lowpass {

extern FILTER_DLL filterDescriptor;

// Defined in descriptor_texts.cpp, the one file compiled to code page 932.
extern char filterName[];
extern char filterInformation[];
extern char trackNameX[];
extern char trackNameY[];
extern char trackNameTaps[];
extern char checkNameSimd[];
extern char checkNameRectangular[];
extern char checkNameHanning[];
extern char checkNameHamming[];
extern char checkNameBlackman[];

}  // namespace lowpass
