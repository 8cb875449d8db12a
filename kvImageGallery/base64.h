#pragma once

#include <string>
#include <vector>

// The base64 alphabet; built at start-up with the other globals.
extern const std::string base64Chars;

std::string base64Encode(const unsigned char* data, unsigned int length);
// Decodes the leading base64 part of text: stops at the first '=' or character outside the alphabet.
std::vector<unsigned char> base64Decode(const std::string& text);
