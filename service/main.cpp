// Norvik XR Service: a windowed program without a visible window.
#include "service/server/runtime.h"

#if defined(_WIN32)
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return qor::ServiceMain(); }
#else
int main() { return qor::ServiceMain(); }
#endif
