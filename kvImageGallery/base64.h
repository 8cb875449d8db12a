#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The base64 alphabet; built at start-up with the other globals.
extern const std::string base64Chars;

std::string base64Encode(const unsigned char* data, unsigned int length);
// Decodes the leading base64 part of text: stops at the first '=' or character outside the alphabet.
std::vector<unsigned char> base64Decode(const std::string& text);
// The first bytes of what base64Decode gives for the zero-terminated text: at most maxBytes of
// them (the room reserved), read from only as many characters as they need.
std::vector<unsigned char> base64DecodePrefix(const char* text, size_t maxBytes);
