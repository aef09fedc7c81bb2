# Every result of the library is fixed to the bit: the order and precision of
# each floating-point operation is part of its contract. These options make the
# compiler keep that order: no fused multiply-add, no reassociation, and the
# compiler's default x86-64 target rather than the build machine's.
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  add_compile_options(-ffp-contract=off -fno-fast-math)
elseif(MSVC)
  add_compile_options(/fp:precise)
endif()

set(_ffc_all_flags "${CMAKE_CXX_FLAGS}")
foreach(_config DEBUG RELEASE RELWITHDEBINFO MINSIZEREL)
  string(APPEND _ffc_all_flags " ${CMAKE_CXX_FLAGS_${_config}}")
endforeach()
foreach(_forbidden -march=native -mtune=native -mavx -mfma -ffast-math -Ofast -funsafe-math-optimizations
                   -fassociative-math -freciprocal-math /fp:fast)
  string(FIND "${_ffc_all_flags}" "${_forbidden}" _found)
  if(NOT _found EQUAL -1)
    message(FATAL_ERROR "The flag ${_forbidden} changes floating-point results; "
                        "this library must be built for the default target with exact arithmetic.")
  endif()
endforeach()
