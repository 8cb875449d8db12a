// The three tables that turn numeric codes into the texts of answers and events. They are built
// before the entry point and never change; lookups never insert, so two threads may read them.
#pragma once

#include <map>
#include <string>

using MessageTable = std::map<int, std::string>;

extern const MessageTable printerErrorMsgMap;
extern const MessageTable apiResultMsgMap;
extern const MessageTable printStateMsgMap;

// The text of a code, or an empty text when the table has none.
std::string lookupMessage(const MessageTable& table, int code);
