# Finds the OpenCV modules the library's interface needs (core, imgproc,
# imgcodecs) and makes an INTERFACE target `target` that brings their include
# directories and libraries. Used by the build and by the installed package
# configuration, so a host finds OpenCV exactly as the library was built.
#
# A CMake package of OpenCV is used when there is one (Windows, vcpkg, source
# builds). Debian's per-module packages ship none, so otherwise the headers and
# the three module libraries are found directly. `found_var` is set to TRUE or
# FALSE; FFC_OPENCV_LIBRARIES and FFC_OPENCV_INCLUDE_DIRS describe what was
# found when it came from the headers and libraries directly.
function(ffc_find_opencv target found_var)
  set(_imported)
  if(ARGN STREQUAL "IMPORTED")
    set(_imported IMPORTED)
  endif()

  find_package(OpenCV QUIET COMPONENTS core imgproc imgcodecs)
  if(OpenCV_FOUND)
    add_library(${target} INTERFACE ${_imported})
    target_include_directories(${target} SYSTEM INTERFACE ${OpenCV_INCLUDE_DIRS})
    target_link_libraries(${target} INTERFACE ${OpenCV_LIBS})
    set(FFC_OPENCV_FROM_PACKAGE TRUE PARENT_SCOPE)
    set(${found_var} TRUE PARENT_SCOPE)
    return()
  endif()

  find_path(FFC_OPENCV_INCLUDE_DIR opencv2/core.hpp PATH_SUFFIXES opencv4)
  set(_libs)
  set(_missing FALSE)
  foreach(_module core imgproc imgcodecs)
    find_library(FFC_OPENCV_${_module}_LIBRARY NAMES opencv_${_module} opencv_${_module}460)
    list(APPEND _libs ${FFC_OPENCV_${_module}_LIBRARY})
    if(NOT FFC_OPENCV_${_module}_LIBRARY)
      set(_missing TRUE)
    endif()
  endforeach()
  if(NOT FFC_OPENCV_INCLUDE_DIR OR _missing)
    set(${found_var} FALSE PARENT_SCOPE)
    return()
  endif()
  add_library(${target} INTERFACE ${_imported})
  target_include_directories(${target} SYSTEM INTERFACE ${FFC_OPENCV_INCLUDE_DIR})
  target_link_libraries(${target} INTERFACE ${_libs})
  set(FFC_OPENCV_FROM_PACKAGE FALSE PARENT_SCOPE)
  set(FFC_OPENCV_INCLUDE_DIRS ${FFC_OPENCV_INCLUDE_DIR} PARENT_SCOPE)
  set(FFC_OPENCV_LIBRARIES ${_libs} PARENT_SCOPE)
  set(${found_var} TRUE PARENT_SCOPE)
endfunction()
