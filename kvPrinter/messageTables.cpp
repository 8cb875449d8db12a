#include "kvPrinter/messageTables.h"

std::string lookupMessage(const MessageTable& table, int code) {
    const auto entry = table.find(code);
    return entry == table.end() ? std::string() : entry->second;
}
