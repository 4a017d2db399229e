# How the code of the installer stub is built. Every installer carries the
# stub, so its code is kept small. Nothing in it throws or catches or asks
# for a type at run time: it is built without exceptions and without type
# information, which leaves the C++ runtime's exception machinery out of the
# stub. Optimised builds also leave out the unwind tables, and optimise for
# size (-Os) what runs once a run or once an entry; the decoding and
# checksum loops, which every byte goes through, keep the build's own
# optimisation (-O3 in release builds).
#
#   lumo_stub_code(TARGET target [COLD] [COLD_SOURCES file...])
#     COLD          the whole target is optimised for size
#     COLD_SOURCES  these files of the target are
#
# The packer and the tests, which share these libraries, throw and catch as
# they like in their own code; an exception that would pass through the
# libraries' functions (only std::bad_alloc could) ends the program there.
# Without type information, a class whose first virtual function is defined
# in these libraries (not in its header) has none anywhere: code elsewhere
# cannot derive from it or ask for its type (dynamic_cast, typeid); the
# interfaces, which their headers define whole, are not concerned.
#
# Sanitizer builds keep the type information, which the undefined behaviour
# checks use, and their unwind tables and optimisation, for their reports'
# sake.
#
# On 64-bit Windows the unwind tables are also what the system walks the
# stack with, for its own exceptions (a crash) and for debuggers: without
# them a crash still ends the installer, but a crash dump's stack stops at
# the first of its functions. Nothing in the installer raises or handles
# such an exception, and the tables would be 7 KiB of every installer.
function(lumo_stub_code)
  cmake_parse_arguments(arg "COLD" "TARGET" "COLD_SOURCES" ${ARGN})
  target_compile_options(${arg_TARGET} PRIVATE -fno-exceptions)
  if(LUMO_SANITIZE)
    return()
  endif()
  target_compile_options(${arg_TARGET} PRIVATE -fno-rtti)
  set(optimised $<CONFIG:Release,MinSizeRel>)
  target_compile_options(${arg_TARGET} PRIVATE $<${optimised}:-fno-asynchronous-unwind-tables -fno-unwind-tables>)
  if(arg_COLD)
    target_compile_options(${arg_TARGET} PRIVATE $<${optimised}:-Os>)
  endif()
  if(arg_COLD_SOURCES)
    set_property(SOURCE ${arg_COLD_SOURCES} TARGET_DIRECTORY ${arg_TARGET} APPEND PROPERTY COMPILE_OPTIONS
                 $<${optimised}:-Os>)
  endif()
endfunction()
