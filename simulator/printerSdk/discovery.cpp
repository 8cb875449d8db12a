// Finding, connecting and closing printers.
#include <cstring>

#include "simulator/printerSdk/exports.h"
#include "simulator/printerSdk/world.h"

using kvsim::copyField;
using kvsim::ExportCall;
using kvsim::fieldText;
using kvsim::traceArgs;
using kvsim::World;

namespace {

template <typename Record>
Record* handOutList(size_t count) {
    return count == 0 ? nullptr : static_cast<Record*>(World::instance().handOut(count * sizeof(Record)));
}

// A connected printer: the settings it keeps stay in the world.
void markConnected(const std::string& name) {
    World& world = World::instance();
    std::lock_guard<std::mutex> lock(world.mutex);
    world.connected = true;
    world.connectedName = name;
}

}  // namespace

void getUsbPrinter(UsbPrinterInfo** list, int32_t* count) {
    ExportCall call("getUsbPrinter", traceArgs());
    World& world = World::instance();
    std::lock_guard<std::mutex> lock(world.mutex);
    const bool empty = world.usbScans++ < world.usbEmptyScans;
    const size_t found = empty ? 0 : world.usbPrinters.size();
    UsbPrinterInfo* records = handOutList<UsbPrinterInfo>(found);
    for (size_t i = 0; i < found; ++i) {
        copyField(records[i].name, sizeof records[i].name, world.usbPrinters[i].name);
        records[i].port = world.usbPrinters[i].port;
    }
    if (list != nullptr) *list = records;
    if (count != nullptr) *count = static_cast<int32_t>(found);
}

void getWifiPrinter(WifiPrinterInfo** list, int32_t* count) {
    ExportCall call("getWifiPrinter", traceArgs());
    World& world = World::instance();
    std::lock_guard<std::mutex> lock(world.mutex);
    const size_t found = world.wifiPrinters.size();
    WifiPrinterInfo* records = handOutList<WifiPrinterInfo>(found);
    for (size_t i = 0; i < found; ++i) {
        const kvsim::WifiPrinter& printer = world.wifiPrinters[i];
        copyField(records[i].ip, sizeof records[i].ip, printer.ip);
        copyField(records[i].name, sizeof records[i].name, printer.name);
        records[i].avaliableClient = printer.avaliableClient;
        records[i].tcpPort = printer.tcpPort;
    }
    if (list != nullptr) *list = records;
    if (count != nullptr) *count = static_cast<int32_t>(found);
}

void getBluetoothPrinter(BluetoothPrinterInfo** list, int32_t* count) {
    ExportCall call("getBluetoothPrinter", traceArgs());
    World& world = World::instance();
    std::lock_guard<std::mutex> lock(world.mutex);
    const size_t found = world.bluetoothPrinters.size();
    BluetoothPrinterInfo* records = handOutList<BluetoothPrinterInfo>(found);
    for (size_t i = 0; i < found; ++i) {
        const kvsim::BluetoothPrinter& printer = world.bluetoothPrinters[i];
        copyField(records[i].name, sizeof records[i].name, printer.name);
        copyField(records[i].mac, sizeof records[i].mac, printer.mac);
        records[i].rssi = printer.rssi;
    }
    if (list != nullptr) *list = records;
    if (count != nullptr) *count = static_cast<int32_t>(found);
}

// A printer that the world does not know cannot be connected (-1).
SdkStatus connectUsbPrinter(UsbPrinterInfo printer) {
    ExportCall call("connectUsbPrinter", traceArgs(kvsim::toJson(printer)));
    if (const int status = call.injectedStatus()) return status;
    const std::string name = fieldText(printer.name, sizeof printer.name);
    bool known = false;
    {
        World& world = World::instance();
        std::lock_guard<std::mutex> lock(world.mutex);
        for (const kvsim::UsbPrinter& p : world.usbPrinters) known = known || p.name == name;
    }
    if (!known) return -1;
    markConnected(name);
    return 0;
}

SdkStatus connectWifiPrinter(WifiPrinterInfo printer) {
    ExportCall call("connectWifiPrinter", traceArgs(kvsim::toJson(printer)));
    if (const int status = call.injectedStatus()) return status;
    const std::string name = fieldText(printer.name, sizeof printer.name);
    bool known = false;
    {
        World& world = World::instance();
        std::lock_guard<std::mutex> lock(world.mutex);
        for (const kvsim::WifiPrinter& p : world.wifiPrinters) known = known || p.name == name;
    }
    if (!known) return -1;
    markConnected(name);
    return 0;
}

SdkStatus connectBluetoothPrinter(BluetoothPrinterInfo printer) {
    ExportCall call("connectBluetoothPrinter", traceArgs(kvsim::toJson(printer)));
    if (const int status = call.injectedStatus()) return status;
    const std::string name = fieldText(printer.name, sizeof printer.name);
    const std::string mac = fieldText(printer.mac, sizeof printer.mac);
    bool known = false;
    {
        World& world = World::instance();
        std::lock_guard<std::mutex> lock(world.mutex);
        for (const kvsim::BluetoothPrinter& p : world.bluetoothPrinters) {
            known = known || p.name == name || (!mac.empty() && p.mac == mac);
        }
    }
    if (!known) return -1;
    markConnected(name);
    return 0;
}

void closePrinter() {
    ExportCall call("closePrinter", traceArgs());
    World& world = World::instance();
    std::lock_guard<std::mutex> lock(world.mutex);
    world.connected = false;
    world.connectedName.clear();
    kvsim::stopPrinting(world.printing, true);
}
