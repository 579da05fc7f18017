// Marks the entry points that the simulated reader library exports; everything else in it stays
// private to the library.
#pragma once

#ifdef _WIN32
#define KADREL_EXPORT __declspec(dllexport)
#else
#define KADREL_EXPORT __attribute__((visibility("default")))
#endif
