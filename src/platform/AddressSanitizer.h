// ORIEL_ADDRESS_SANITIZER is 1 in a build with AddressSanitizer (GCC or
// Clang), else 0: the pools that hand out room of their own use the general
// heap there instead, so that a use after free is still caught.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
#define ORIEL_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORIEL_ADDRESS_SANITIZER 1
#endif
#endif
#ifndef ORIEL_ADDRESS_SANITIZER
#define ORIEL_ADDRESS_SANITIZER 0
#endif
