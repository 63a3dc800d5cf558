#pragma once

// Which sanitizer this code is built with, for both compilers: gcc defines __SANITIZE_ADDRESS__
// and __SANITIZE_THREAD__, clang 14 answers only __has_feature. Function-like, so that a file that
// uses one without this header, or misspells it, fails to compile instead of reading 0.
#if defined(__SANITIZE_ADDRESS__)
#define VANTISOL_ADDRESS_SANITIZER() 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VANTISOL_ADDRESS_SANITIZER() 1
#endif
#endif
#ifndef VANTISOL_ADDRESS_SANITIZER
#define VANTISOL_ADDRESS_SANITIZER() 0
#endif

#if defined(__SANITIZE_THREAD__)
#define VANTISOL_THREAD_SANITIZER() 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VANTISOL_THREAD_SANITIZER() 1
#endif
#endif
#ifndef VANTISOL_THREAD_SANITIZER
#define VANTISOL_THREAD_SANITIZER() 0
#endif

// A sanitizer tree names its sanitizer (CMakeLists.txt): code that only a sanitizer tree compiles
// must never drop out of it unseen because a compiler answers differently.
#if VANTISOL_ADDRESS_SANITIZER() != defined(VANTISOL_TREE_ADDRESS_SANITIZER)
#error "The address sanitizer's detection disagrees with the tree this is built in"
#endif
#if VANTISOL_THREAD_SANITIZER() != defined(VANTISOL_TREE_THREAD_SANITIZER)
#error "The thread sanitizer's detection disagrees with the tree this is built in"
#endif
