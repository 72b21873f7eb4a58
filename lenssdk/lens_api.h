// Which of the SDK's libraries a class or function belongs to. On Windows each library exports
// what it defines and the others import it; elsewhere everything keeps default visibility.
#pragma once

#if defined(_WIN32)
#define LENS_EXPORT __declspec(dllexport)
#define LENS_IMPORT __declspec(dllimport)
#else
#define LENS_EXPORT __attribute__((visibility("default")))
#define LENS_IMPORT __attribute__((visibility("default")))
#endif

#if defined(LENS_BUILDING_CORE)
#define LENS_CORE_API LENS_EXPORT
#else
#define LENS_CORE_API LENS_IMPORT
#endif

#if defined(LENS_BUILDING_FACE_TRACKERS)
#define LENS_FACE_TRACKERS_API LENS_EXPORT
#else
#define LENS_FACE_TRACKERS_API LENS_IMPORT
#endif

#if defined(LENS_BUILDING_DISPLAYS)
#define LENS_DISPLAYS_API LENS_EXPORT
#else
#define LENS_DISPLAYS_API LENS_IMPORT
#endif

#if defined(LENS_BUILDING_DIRECTX)
#define LENS_DIRECTX_API LENS_EXPORT
#else
#define LENS_DIRECTX_API LENS_IMPORT
#endif

#if defined(LENS_BUILDING_RUNTIME)
#define LENS_RUNTIME_API LENS_EXPORT
#else
#define LENS_RUNTIME_API LENS_IMPORT
#endif
