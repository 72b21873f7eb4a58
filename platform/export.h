// Marks a function a shared library exports, with C linkage. The libraries are built with
// hidden symbols, so what carries this mark is all a loader can find in them.
#pragma once

#if defined(_WIN32)
#define NORVIK_EXPORT extern "C" __declspec(dllexport)
#else
#define NORVIK_EXPORT extern "C" __attribute__((visibility("default")))
#endif
