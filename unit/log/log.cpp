#include "unit/log/log.h"

bool initLogFromConfig() { return false; }
void initLog(std::string) {}
void unInitLog() {}
