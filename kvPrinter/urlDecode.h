#pragma once

#include <string>

// Decodes percent escapes of a request path and converts the bytes from UTF-8 to the platform's
// narrow encoding. in and out may be the same string. Always returns 0.
int urlDecode(const std::string& in, std::string& out);
