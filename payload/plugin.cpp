// One source for the sample plug-ins; each is built with its own PLUGIN_NAME.
#include <windows.h>

// Two levels each, so that PLUGIN_NAME is expanded before it becomes text.
#define GLIMMERLY_TEXT(name) #name
#define GLIMMERLY_NAME(name) GLIMMERLY_TEXT(name)
#define GLIMMERLY_WIDE_TEXT(text) L##text
#define GLIMMERLY_WIDE(text) GLIMMERLY_WIDE_TEXT(text)

extern "C" __declspec(dllexport) const wchar_t* PluginName() {
    return GLIMMERLY_WIDE(GLIMMERLY_NAME(PLUGIN_NAME));
}

extern "C" __declspec(dllexport) int PluginInterfaceVersion() {
    return 1;
}
