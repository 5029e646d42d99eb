#include "engine/jobstate.h"

namespace TRAVO1 {

uint8_t StopFlag = 0;
QString CurrentName;
QString DestPath;

} // namespace TRAVO1
