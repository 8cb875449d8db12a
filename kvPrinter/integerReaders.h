// The readers of integers from JSON. Each operation reads its integers by the rule that it was
// described with, and the rules differ at their edges (fractions, true and false, the int32
// range), so each rule has one reader, named after it.
#pragma once

#include <json/json.h>

#include <cstdint>
#include <optional>

// Whole number, jsoncpp's isInt (3, 3.0 pass; 3.5, 2147483648, "3", true, null fail), from "parameter"."key".
std::optional<int32_t> wholeIntParameter(const Json::Value& request, const char* key);

// Whole number, jsoncpp's isInt, into `out` (true); null leaves `out` (false); any other value gives -2 (false).
bool readWholeIntOrMinusTwo(const Json::Value& value, int& out);

// As jsoncpp's asInt converts: a number inside int32 cut toward zero, true/false as 1/0; absent or null keeps it.
bool readConvertedInt(const Json::Value* parameter, const char* key, int32_t& value);

// A number or true/false (1/0) whose whole part fits int32, cut toward zero; null keeps `out`.
bool readTruncatedInt(const Json::Value& value, int& out);
// The same for object."key"; a null object keeps `out`, any other non-object fails.
bool readTruncatedInt(const Json::Value& object, const char* key, int& out);

// A number, not true/false, whose whole part fits int32, cut toward zero; a null parameter or key keeps it.
bool readTruncatedNumber(const Json::Value& parameter, const char* key, int& value);
