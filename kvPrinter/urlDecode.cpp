#include "kvPrinter/urlDecode.h"

int urlDecode(const std::string& in, std::string& out) {
    out = in;
    return 0;
}
