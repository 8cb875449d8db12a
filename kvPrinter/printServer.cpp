// (Being built: the queue, the worker and the routing to clients.)
#include "kvPrinter/printServer.h"

void pushPrintTask(std::string, std::string) {}
void printWorkLoop() {}
void sendToCurrentClient(std::string) {}
void onClientDisconnect() {}
