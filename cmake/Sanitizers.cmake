# FFC_SANITIZE builds the library, the tools and the tests with run-time
# checkers: "address,undefined" (AddressSanitizer and UndefinedBehaviorSanitizer)
# or "thread" (ThreadSanitizer). Every report stops the program with an error,
# so a test that triggers one fails.
set(FFC_SANITIZE "" CACHE STRING "Sanitizers to build with: empty, address,undefined, or thread")
set_property(CACHE FFC_SANITIZE PROPERTY STRINGS "" "address,undefined" "thread")

if(FFC_SANITIZE)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    message(FATAL_ERROR "FFC_SANITIZE needs GCC or Clang")
  endif()
  if(FFC_SANITIZE MATCHES "thread" AND FFC_SANITIZE MATCHES "address")
    message(FATAL_ERROR "ThreadSanitizer cannot be combined with AddressSanitizer")
  endif()
  set(FFC_SANITIZE_FLAGS -fsanitize=${FFC_SANITIZE} -fno-sanitize-recover=all -fno-omit-frame-pointer -g)
  # Clang's "undefined" checks float-to-int conversions that overflow; GCC's
  # needs to be asked.
  if(FFC_SANITIZE MATCHES "undefined" AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    list(APPEND FFC_SANITIZE_FLAGS -fsanitize=float-cast-overflow)
  endif()
  add_compile_options(${FFC_SANITIZE_FLAGS})
  add_link_options(-fsanitize=${FFC_SANITIZE})
  message(STATUS "Sanitizers: ${FFC_SANITIZE}")
endif()
