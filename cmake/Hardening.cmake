# The hardening Debian builds its packages with (dpkg-buildflags, hardening=+all):
# stack protector, fortified libc calls, position-independent executables, and a
# read-only relocation table resolved at start (relro, bindnow).
#
# Not with the sanitizers or the fuzzer: AddressSanitizer replaces the libc calls that
# _FORTIFY_SOURCE would check. _FORTIFY_SOURCE needs an optimizing build, so a Debug
# build goes without it rather than warning in every file.
if(QUINDLE_SANITIZE OR QUINDLE_FUZZ OR QUINDLE_FUZZ_ONLY)
  return()
endif()

include(CheckPIESupported)
check_pie_supported()
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

add_compile_options(-fstack-protector-strong -fstack-clash-protection -Wformat -Werror=format-security
                    "$<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
add_link_options(-Wl,-z,relro -Wl,-z,now)
