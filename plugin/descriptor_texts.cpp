// The texts the host shows. This file is UTF-8; the build compiles it with
// -fexec-charset=cp932, so every narrow literal below becomes the Shift-JIS
// bytes the host expects. Keep other literals out of this file.
#include "plugin/descriptor.h"

namespace lowpass {

char filterName[] = "低域通過フィルタ";
char filterInformation[] = "低域通過フィルタ Ver 0.3.5 by lowpass developers";

char trackNameX[] = "X";
char trackNameY[] = "Y";
char trackNameTaps[] = "タップ";

char checkNameSimd[] = "SIMD";
char checkNameRectangular[] = "方形波窓";
char checkNameHanning[] = "ハニング窓";
char checkNameHamming[] = "ハミング窓";
char checkNameBlackman[] = "ブラックマン窓";

}  // namespace lowpass
