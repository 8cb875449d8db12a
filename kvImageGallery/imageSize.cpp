#include "kvImageGallery/imageSize.h"

void getImageSizeFromBase64(const char*, int*, int*) {}
