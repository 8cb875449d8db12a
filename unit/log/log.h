// The log set-up: file logging only when the marker file stands beside the program.
#pragma once

#include <string>

bool initLogFromConfig();
void initLog(std::string dir);
void unInitLog();
