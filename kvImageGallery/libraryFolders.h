// The default fonts folders: the one beside the renderer and the one beside the program.
#pragma once

#include <string>

// The folder of the loaded renderer (libpelix_windows.so) followed by "font"; empty when the
// renderer is not loaded in the process.
std::string rendererFontFolder();

// The running program's folder followed by "/font"; empty when its file name has no folder.
std::string programFontFolder();
