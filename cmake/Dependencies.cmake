# OpenCV (core, imgproc, imgcodecs) and Eigen.
#
# A CMake package of OpenCV is used when there is one (Windows, vcpkg, source
# builds). Debian's per-module packages ship none, so otherwise the headers and
# the three module libraries are found directly.
set(FFC_DEBIAN_PACKAGES "libopencv-core-dev libopencv-imgproc-dev libopencv-imgcodecs-dev libeigen3-dev")

find_package(OpenCV QUIET COMPONENTS core imgproc imgcodecs)
if(OpenCV_FOUND)
  add_library(ffc_opencv INTERFACE)
  target_include_directories(ffc_opencv SYSTEM INTERFACE ${OpenCV_INCLUDE_DIRS})
  target_link_libraries(ffc_opencv INTERFACE ${OpenCV_LIBS})
else()
  find_path(FFC_OPENCV_INCLUDE_DIR opencv2/core.hpp PATH_SUFFIXES opencv4)
  set(_ffc_opencv_libs)
  foreach(_module core imgproc imgcodecs)
    find_library(FFC_OPENCV_${_module}_LIBRARY NAMES opencv_${_module} opencv_${_module}460)
    list(APPEND _ffc_opencv_libs ${FFC_OPENCV_${_module}_LIBRARY})
    if(NOT FFC_OPENCV_${_module}_LIBRARY)
      set(_ffc_opencv_missing TRUE)
    endif()
  endforeach()
  if(NOT FFC_OPENCV_INCLUDE_DIR OR _ffc_opencv_missing)
    message(FATAL_ERROR "OpenCV (core, imgproc, imgcodecs) was not found. On Debian install: "
                        "apt-get install ${FFC_DEBIAN_PACKAGES}")
  endif()
  add_library(ffc_opencv INTERFACE)
  target_include_directories(ffc_opencv SYSTEM INTERFACE ${FFC_OPENCV_INCLUDE_DIR})
  target_link_libraries(ffc_opencv INTERFACE ${_ffc_opencv_libs})
  message(STATUS "OpenCV modules: ${_ffc_opencv_libs}")
endif()

find_package(Eigen3 3.3 QUIET NO_MODULE)
if(NOT TARGET Eigen3::Eigen)
  find_path(FFC_EIGEN_INCLUDE_DIR Eigen/Dense PATH_SUFFIXES eigen3)
  if(NOT FFC_EIGEN_INCLUDE_DIR)
    message(FATAL_ERROR "Eigen 3 was not found. On Debian install: apt-get install libeigen3-dev")
  endif()
  add_library(Eigen3::Eigen INTERFACE IMPORTED)
  target_include_directories(Eigen3::Eigen SYSTEM INTERFACE ${FFC_EIGEN_INCLUDE_DIR})
endif()
