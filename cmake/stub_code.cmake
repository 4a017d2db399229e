# How the code of the installer stub is built. Every installer carries the
# stub, so its code is kept small: nothing in it throws or catches, or asks
# for a type at run time, so it is built without exceptions and without type
# information, which leaves the C++ runtime's exception machinery out of the
# stub; optimised builds also leave out the unwind tables and
# optimise for size (-Os) what runs once a run or once an entry. The decoding
# and checksum loops, which every byte goes through, keep the build's own
# optimisation (-O3 in release builds).
#
#   lumo_stub_code(TARGET target [COLD] [COLD_SOURCES file...])
#     COLD          the whole target is optimised for size
#     COLD_SOURCES  these files of the target are
#
# Sanitizer builds keep their unwind tables and optimisation, for their
# reports' sake, and 64-bit Windows keeps its unwind tables: there they are
# part of the calling convention, which the system's own exception dispatch
# and stack walks rely on.
function(lumo_stub_code)
  cmake_parse_arguments(arg "COLD" "TARGET" "COLD_SOURCES" ${ARGN})
  target_compile_options(${arg_TARGET} PRIVATE -fno-exceptions -fno-rtti)
  if(LUMO_SANITIZE)
    return()
  endif()
  set(optimised $<CONFIG:Release,MinSizeRel>)
  if(NOT (WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 8))
    target_compile_options(${arg_TARGET} PRIVATE $<${optimised}:-fno-asynchronous-unwind-tables -fno-unwind-tables>)
  endif()
  if(arg_COLD)
    target_compile_options(${arg_TARGET} PRIVATE $<${optimised}:-Os>)
  endif()
  if(arg_COLD_SOURCES)
    set_property(SOURCE ${arg_COLD_SOURCES} TARGET_DIRECTORY ${arg_TARGET} APPEND PROPERTY COMPILE_OPTIONS
                 $<${optimised}:-Os>)
  endif()
endfunction()
