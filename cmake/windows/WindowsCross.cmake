# The dependencies of the Windows cross build (cmake/windows/mingw-w64.cmake).
#
# Eigen, nlohmann-json, CLI11 and OpenCV's headers are the build machine's,
# seen through a folder of their own so that the machine's C library headers
# stay out of reach. There is no OpenCV for Windows here: the libraries link
# against an import library of the official release's DLL made at build time
# from the OpenCV symbols they use (WindowsChecks.cmake), so they link and
# load but nothing that calls OpenCV can run.
set(FFC_OPENCV_DLL opencv_world460 CACHE STRING "The OpenCV DLL the Windows build imports from")
set(_headers ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${_headers})
foreach(_link opencv2=/usr/include/opencv4/opencv2 Eigen=/usr/include/eigen3/Eigen
              nlohmann=/usr/include/nlohmann CLI=/usr/include/CLI)
  string(REPLACE "=" ";" _pair ${_link})
  list(GET _pair 0 _name)
  list(GET _pair 1 _target)
  if(NOT EXISTS ${_target})
    message(FATAL_ERROR "${_target} is missing: the Windows build takes it from the Debian packages of make test")
  endif()
  file(CREATE_LINK ${_target} ${_headers}/${_name} SYMBOLIC)
endforeach()
set(FFC_EIGEN_INCLUDE_DIR ${_headers} CACHE PATH "" FORCE)
set(FFC_JSON_INCLUDE_DIR ${_headers} CACHE PATH "" FORCE)
set(CISFFC_CLI11_INCLUDE_DIR ${_headers} CACHE PATH "" FORCE)

set(FFC_OPENCV_IMPORT_LIBRARY ${CMAKE_BINARY_DIR}/opencv-imports/lib${FFC_OPENCV_DLL}.dll.a)
add_library(ffc_opencv INTERFACE)
target_include_directories(ffc_opencv SYSTEM INTERFACE ${_headers})
target_link_libraries(ffc_opencv INTERFACE ${FFC_OPENCV_IMPORT_LIBRARY})
