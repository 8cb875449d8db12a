#include "kvImageGallery/thirdLibraryApi.h"

bool ThirdLibraryApi::loadThirdLibrary() { return false; }
void ThirdLibraryApi::unloadThirdLibrary() {}
