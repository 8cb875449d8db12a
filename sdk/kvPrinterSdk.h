// Binary interface of the printer SDK library (libkvPrinterSdk.so): records, result shapes, the
// event callback and the 72 exports. The service reaches the exports only through the table that
// the loader fills; the simulated SDK defines them. Both include this header, so a signature that
// drifts breaks the build instead of the call.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

// ---- result shapes -------------------------------------------------------------------------

// 0 = success; anything else is an SDK error code passed on to the client unchanged.
typedef int32_t SdkStatus;

struct SdkIntResult {
    int32_t value;
    int32_t errorCode;
};

// data is a zero-terminated text owned by the SDK; give it back with freeData.
struct SdkTextResult {
    char* data;
    int32_t errorCode;
};

// items is an SDK-owned array of count records; give it back with freeData.
struct SdkListResult {
    void* items;
    int32_t count;
    int32_t errorCode;
};

struct SdkPairResult {
    int32_t first;
    int32_t second;
    int32_t errorCode;
};

struct SdkMultipleResult {
    double multiple;
    int32_t errorCode;
};

struct SdkPrinterTimeResult {
    int32_t year;
    int32_t month;
    int32_t day;
    int32_t hour;
    int32_t minute;
    int32_t second;
    int32_t errorCode;
};

struct SdkPaperInfoResult {
    int32_t gapHeightPixel;
    int32_t totalHeightPixel;
    int32_t paperType;
    float gapHeight;
    float totalHeight;
    int32_t paperWidthPixel;
    float paperWidth;
    int32_t direction;
    int32_t tailLengthPixel;
    float tailLength;
    int32_t errorCode;
};

// ---- printer records -----------------------------------------------------------------------

struct UsbPrinterInfo {
    char name[21];
    int32_t port;
    int32_t reserved;
};

struct WifiPrinterInfo {
    char ip[21];
    char name[41];
    int32_t avaliableClient;
    int32_t tcpPort;
};

struct BluetoothPrinterInfo {
    char name[41];
    char mac[21];
    int32_t rssi;
};

// ---- job records ---------------------------------------------------------------------------

struct JobStartInfo {
    int32_t first;   // always 0
    int32_t second;  // always 1
    int32_t count;
};

struct PrintJobInfo {
    unsigned char* imageData;  // owned by the caller; valid only during commitJob
    int32_t imageSize;
    int32_t width;
    int32_t height;
    int32_t printQuantity;
    char epc[125];
    int32_t cutline;
};

struct FirmwareUpgradeInfo {
    unsigned char* fileData;
    int32_t fileSize;
    char crc[33];
    char swVersion[33];
};

// ---- settings records ----------------------------------------------------------------------

struct PrinterTimeInfo {
    int32_t year;
    int32_t month;
    int32_t day;
    int32_t hour;
    int32_t minute;
    int32_t second;
};

struct WifiConfigInfo {
    char wifiName[100];
    char wifiPassword[100];
};

struct KeyFunctionInfo {
    int32_t keyIndex;
    int32_t functionValue;
};

// ---- list items ----------------------------------------------------------------------------

struct PrinterHistoryInfo {
    char uuid[44];
    int32_t limitNumber;
    int32_t usedNumber;
};

struct RfidInfo {
    char uuid[41];
    char barcode[125];
    char batchSerialNumber[126];
    int32_t allPaperMetres;
    int32_t usedPaperMetres;
    int32_t consumablesType;
    int32_t readStatus;  // 0 = read
};

// ---- event payloads ------------------------------------------------------------------------

struct StatusValueInfo {  // events 2 to 7
    int32_t value;
    int32_t reserved;
};

struct PrintProgressInfo {  // event 8
    int32_t page;
    int32_t copies;
    double ribbonLengthUsed;
    int32_t waitTime;
    char epc[132];
};

struct PrintErrorInfo {  // event 9
    int32_t errorCode;
    int32_t printState;
    int32_t reserved;
};

struct FirmwareProgressInfo {  // event 15
    int32_t progress;
    int32_t errorCode;
    int32_t reserved;
};

typedef void (*SdkEventCallback)(void* eventData, int32_t eventType);

}  // extern "C"

// Records without pointers keep the SDK's sizes exactly.
static_assert(sizeof(SdkIntResult) == 8);
static_assert(sizeof(SdkPairResult) == 12);
static_assert(sizeof(SdkMultipleResult) == 16);
static_assert(sizeof(SdkPrinterTimeResult) == 28);
static_assert(sizeof(SdkPaperInfoResult) == 44);
static_assert(sizeof(UsbPrinterInfo) == 32 && offsetof(UsbPrinterInfo, port) == 24);
static_assert(sizeof(WifiPrinterInfo) == 72 && offsetof(WifiPrinterInfo, name) == 21 &&
              offsetof(WifiPrinterInfo, avaliableClient) == 64);
static_assert(sizeof(BluetoothPrinterInfo) == 68 && offsetof(BluetoothPrinterInfo, mac) == 41 &&
              offsetof(BluetoothPrinterInfo, rssi) == 64);
static_assert(sizeof(JobStartInfo) == 12);
static_assert(sizeof(PrinterTimeInfo) == 24);
static_assert(sizeof(WifiConfigInfo) == 200);
static_assert(sizeof(KeyFunctionInfo) == 8);
static_assert(sizeof(PrinterHistoryInfo) == 52);
static_assert(sizeof(RfidInfo) == 308 && offsetof(RfidInfo, barcode) == 41 &&
              offsetof(RfidInfo, batchSerialNumber) == 166 && offsetof(RfidInfo, allPaperMetres) == 292);
static_assert(sizeof(StatusValueInfo) == 8);
static_assert(sizeof(PrintProgressInfo) == 152 && offsetof(PrintProgressInfo, epc) == 20);
static_assert(sizeof(PrintErrorInfo) == 12);
static_assert(sizeof(FirmwareProgressInfo) == 12);

// The exports, in the order in which the loader resolves them: X(name, result, (parameters)).
// This one list drives the binding's table, the loader and the simulated SDK's declarations.
// The eight exports nobody calls (freeDatas, startJobEx, commitJobEx, getPrintLastError,
// getPrintQuality, testPrinterConnect, setTubeInfo, getTubeInfo) have signatures of our choosing.
#define KV_PRINTER_SDK_EXPORTS(X)                                             \
    X(getUsbPrinter, void, (UsbPrinterInfo * *list, int32_t * count))        \
    X(connectUsbPrinter, SdkStatus, (UsbPrinterInfo printer))                 \
    X(getWifiPrinter, void, (WifiPrinterInfo * *list, int32_t * count))      \
    X(connectWifiPrinter, SdkStatus, (WifiPrinterInfo printer))               \
    X(getBluetoothPrinter, void, (BluetoothPrinterInfo * *list, int32_t * count)) \
    X(connectBluetoothPrinter, SdkStatus, (BluetoothPrinterInfo printer))     \
    X(registCallback, void, (SdkEventCallback callback))                      \
    X(startJob, SdkStatus, (JobStartInfo job))                                \
    X(commitJob, SdkStatus, (PrintJobInfo page))                              \
    X(endJob, SdkStatus, ())                                                  \
    X(pausePrint, SdkStatus, ())                                              \
    X(resumePrint, SdkStatus, ())                                             \
    X(cancelJob, SdkStatus, ())                                               \
    X(getDeviceSn, SdkTextResult, ())                                         \
    X(getSoftWareVersion, SdkTextResult, ())                                  \
    X(initSdk, void, ())                                                      \
    X(unInitSdk, void, ())                                                    \
    X(freeDatas, void, (void** pointers, int32_t count))                      \
    X(freeData, void, (void* pointer))                                        \
    X(getDeviceWifi, SdkTextResult, ())                                       \
    X(getRfidPararm, SdkListResult, ())                                       \
    X(getPrintMode, SdkIntResult, ())                                         \
    X(setPrintMode, SdkStatus, (int32_t mode))                                \
    X(getPrintDensity, SdkIntResult, ())                                      \
    X(setPrintDensity, SdkStatus, (int32_t density))                          \
    X(getLabelType, SdkIntResult, ())                                         \
    X(setLabelType, SdkStatus, (int32_t labelType))                           \
    X(getPrintSpeed, SdkIntResult, ())                                        \
    X(setPrintSpeed, SdkStatus, (int32_t speed))                              \
    X(getLanguageType, SdkIntResult, ())                                      \
    X(setLanguageType, SdkStatus, (int32_t language))                         \
    X(getAutoShutDownTime, SdkIntResult, ())                                  \
    X(setAutoShutDownTime, SdkStatus, (int32_t minutes))                      \
    X(getPrinterTime, SdkPrinterTimeResult, ())                               \
    X(setPrinterTime, SdkStatus, (PrinterTimeInfo time))                      \
    X(getKeyFunction, SdkListResult, ())                                      \
    X(setKeyFunction, SdkStatus, (int32_t keyIndex, int32_t functionValue))   \
    X(getDeviceVoice, SdkIntResult, ())                                       \
    X(setDeviceVoice, SdkStatus, (int32_t level))                             \
    X(getElectricity, SdkIntResult, ())                                       \
    X(getHardWareVersion, SdkTextResult, ())                                  \
    X(getColorSupport, SdkIntResult, ())                                      \
    X(getPageInfo, SdkPairResult, (int32_t paperType))                        \
    X(getPrinterLog, SdkTextResult, ())                                       \
    X(getSdkVersion, SdkTextResult, ())                                       \
    X(getAntiCounterfeiKey, SdkTextResult, ())                                \
    X(setDeviceWifi, SdkStatus, (WifiConfigInfo config))                      \
    X(getPrintQualitySupport, SdkIntResult, ())                               \
    X(getMultiple, SdkMultipleResult, ())                                     \
    X(getPrinterType, SdkIntResult, ())                                       \
    X(resetPrintDensity, int32_t, (int32_t density))                          \
    X(startJobEx, SdkStatus, (JobStartInfo job))                              \
    X(commitJobEx, SdkStatus, (PrintJobInfo page))                            \
    X(getPrintLastError, SdkIntResult, ())                                    \
    X(getPrinterHighLevelInfo, SdkTextResult, ())                             \
    X(getPrintQuality, SdkIntResult, ())                                      \
    X(upgradeFirmware, SdkStatus, (FirmwareUpgradeInfo firmware))             \
    X(getPrinterHistory, SdkListResult, ())                                   \
    X(getRfidSuccessTimes, SdkPairResult, ())                                 \
    X(getAreaCode, SdkIntResult, ())                                          \
    X(resetPrinter, SdkStatus, ())                                            \
    X(setAnti, SdkStatus, ())                                                 \
    X(closePrinter, void, ())                                                 \
    X(testPrinterConnect, SdkStatus, ())                                      \
    X(getHalfCutSupport, SdkPairResult, ())                                   \
    X(getHalfCut, SdkIntResult, ())                                           \
    X(setHalfCut, SdkStatus, (int32_t depth))                                 \
    X(setTubeCalibration, SdkStatus, ())                                      \
    X(setTubeAdjustLength, SdkStatus, (float length))                         \
    X(setTubeInfo, SdkStatus, (int32_t value))                                \
    X(getTubeInfo, SdkIntResult, ())                                          \
    X(getPaperInfo, SdkPaperInfoResult, ())

// The library that defines the exports declares them with this, inside extern "C" (the canvas
// library has a "freeData" of its own, so the service never declares them).
#define KV_DECLARE_SDK_EXPORT(name, result, params) result name params;

// The file name of the library on this platform.
inline constexpr const char* kPrinterSdkFileName = "libkvPrinterSdk.so";
