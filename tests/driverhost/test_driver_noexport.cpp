// A library in a driver's place that lacks the factory export.
#if defined(_WIN32)
extern "C" __declspec(dllexport) int NotADriver() { return 0; }
#else
extern "C" __attribute__((visibility("default"))) int NotADriver() { return 0; }
#endif
