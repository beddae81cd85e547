// Included once by each test program that opens PortAudio devices. While PortAudio probes the
// devices, ALSA loads plugins whose static initialisers allocate and never free, and unloads them
// before the leak check; only the full stack (slow unwinding) shows that such an allocation came
// through ALSA. Without AddressSanitizer this header adds nothing.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
#define QUORVEL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUORVEL_ASAN 1
#endif
#endif
#ifdef QUORVEL_ASAN
extern "C" const char* __lsan_default_options() { return "fast_unwind_on_malloc=0"; }
extern "C" const char* __lsan_default_suppressions() { return "leak:libasound.so\n"; }
#endif
