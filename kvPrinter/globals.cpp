// Every global object of the service, defined in this one file so that they are built in this
// order during start-up (the order of definitions within a file is the order of construction).
// The service object and the worker thread are created by startService (printServer.cpp) once
// these exist; unit tests link the same objects without starting either.
#include <json/json.h>

#include <mutex>
#include <string>
#include <thread>

#include "kvImageGallery/base64.h"
#include "kvPrinter/messageTables.h"
#include "kvPrinter/printServer.h"

// 1. The message tables.
const MessageTable printerErrorMsgMap = {
    {0, "Success"},
    {1, "Box open"},
    {2, "No paper"},
    {3, "Low voltage"},
    {4, "Battery unnormal"},
    {5, "Handle stop"},
    {6, "Data error"},
    {7, "High temprature"},
    {8, "Page out error"},
    {9, "is printing"},
    {10, "con't search printer head"},
    {11, "low temprature"},
    {12, "printer head flexible"},
    {13, "can't search carbon bands"},
    {14, "carbon bands isn't match"},
    {15, "used carbon bands"},
    {16, "Paper unnormal"},
    {22, "time out"},
    {23, "disconnect printer"},
    {26, "json parameter error"},
    {50, "labels isn't match"},
    {51, "carbon bands and labels aren't match"},
    {52, "firmware receive data timeout"},
    {53, "nonprofessional carbon"},
};
const MessageTable apiResultMsgMap = {
    {0, "success"}, {-1, "fail"}, {-2, "printer busy"}, {-3, "no support"}, {-4, "printer disconnect"},
};
const MessageTable printStateMsgMap = {{1, "pause"}, {2, "cancel"}};

// 2. The job information of the drawing board.
Json::Value printImageInfoJson;

// 3. The client of the request being served.
std::string currentClientId;
std::mutex currentClientIdMutex;

// 4. The request queue.
PrintTaskQueue printTaskQueue;

// 5. The printer service (created by startService, first thing in main).
cKvPrinterService* printerService = nullptr;

// 6. The worker (started by startService).
std::thread printWorkThread;

// 7. The base64 alphabet.
const std::string base64Chars = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
