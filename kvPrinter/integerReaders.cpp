#include "kvPrinter/integerReaders.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace {

// The number cut toward zero, when that fits int32.
bool truncatedFits(double number, int& out) {
    const double whole = std::trunc(number);
    if (whole < std::numeric_limits<int32_t>::min() || whole > std::numeric_limits<int32_t>::max()) return false;
    out = static_cast<int>(whole);
    return true;
}

}  // namespace

std::optional<int32_t> wholeIntParameter(const Json::Value& root, const char* key) {
    // A "parameter" that is not an object has no keys; indexing it would throw.
    if (!root.isObject()) return std::nullopt;
    const Json::Value& parameter = root["parameter"];
    if (!parameter.isObject()) return std::nullopt;
    const Json::Value& value = parameter[key];
    if (!value.isInt()) return std::nullopt;
    return value.asInt();
}

bool readWholeIntOrMinusTwo(const Json::Value& value, int& out) {
    if (value.isNull()) return false;
    if (value.isInt()) {
        out = value.asInt();
        return true;
    }
    out = -2;
    return false;
}

bool readConvertedInt(const Json::Value* parameter, const char* key, int32_t& value) {
    if (parameter == nullptr) return true;
    const Json::Value* found = parameter->find(key, key + std::strlen(key));
    if (found == nullptr || found->isNull()) return true;
    // isConvertibleTo(intValue) is exactly when asInt does not throw: integers and reals inside
    // the int32 range (reals are truncated toward zero) and booleans.
    if (!found->isConvertibleTo(Json::intValue)) return false;
    value = found->asInt();
    return true;
}

bool readTruncatedInt(const Json::Value& value, int& out) {
    if (value.isNull()) return true;
    if (value.isBool()) {
        out = value.asBool() ? 1 : 0;
        return true;
    }
    return value.isNumeric() && truncatedFits(value.asDouble(), out);
}

bool readTruncatedInt(const Json::Value& object, const char* key, int& out) {
    if (object.isNull()) return true;
    return object.isObject() && readTruncatedInt(object[key], out);
}

bool readTruncatedNumber(const Json::Value& parameter, const char* key, int& value) {
    if (parameter.isNull()) return true;
    if (!parameter.isObject()) return false;
    const Json::Value& found = parameter[key];
    if (found.isNull()) return true;
    return found.isNumeric() && truncatedFits(found.asDouble(), value);
}
