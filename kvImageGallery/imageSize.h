#pragma once

// Reads a base64 picture's pixel size from its header (GIF, PNG, JPEG, BMP, ICO); leaves both
// sizes untouched when the picture or its size is not recognised.
void getImageSizeFromBase64(const char* image, int* height, int* width);
