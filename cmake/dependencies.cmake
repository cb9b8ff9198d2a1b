# Every dependency comes from Debian's packages; a missing one stops the configure step
# with the name of the package that provides it.
function(tervik_require found what package)
  if(NOT ${found})
    message(FATAL_ERROR "${what} not found: install the Debian package '${package}' "
                        "(or run ./tools/install-deps.sh)")
  endif()
endfunction()

find_package(Boost 1.74 COMPONENTS filesystem system program_options)
tervik_require(Boost_FOUND "Boost (with Filesystem, System and GIL)"
               "libboost-dev libboost-filesystem-dev libboost-system-dev libboost-program-options-dev")
if(NOT EXISTS "${Boost_INCLUDE_DIRS}/boost/gil/extension/io/png.hpp")
  message(FATAL_ERROR "Boost.GIL I/O headers not found: install the Debian package 'libboost-dev'")
endif()

find_package(PNG)
tervik_require(PNG_FOUND "libpng" "libpng-dev")
find_package(JPEG)
tervik_require(JPEG_FOUND "libjpeg" "libjpeg-dev")
find_package(TIFF)
tervik_require(TIFF_FOUND "libtiff" "libtiff-dev")
# Whole-buffer inflating for the direct PNG reader.
find_library(DEFLATE_LIBRARY deflate)
find_path(DEFLATE_INCLUDE_DIR libdeflate.h)
tervik_require(DEFLATE_LIBRARY "libdeflate" "libdeflate-dev")
tervik_require(DEFLATE_INCLUDE_DIR "libdeflate headers" "libdeflate-dev")

# Eigen's sparse Cholesky: weaver's fairing of patches to least bending, and the texture's
# seam levelling.
find_package(Eigen3 3.3 CONFIG)
tervik_require(Eigen3_FOUND "Eigen" "libeigen3-dev")

find_package(yaml-cpp CONFIG)
tervik_require(yaml-cpp_FOUND "yaml-cpp" "libyaml-cpp-dev")

find_package(OpenMesh QUIET CONFIG)
if(NOT TARGET OpenMeshCore)
  find_library(OPENMESH_CORE_LIBRARY OpenMeshCore)
  find_path(OPENMESH_INCLUDE_DIR OpenMesh/Core/Geometry/VectorT.hh)
  tervik_require(OPENMESH_CORE_LIBRARY "OpenMesh" "libopenmesh-dev")
  tervik_require(OPENMESH_INCLUDE_DIR "OpenMesh headers" "libopenmesh-dev")
  add_library(OpenMeshCore UNKNOWN IMPORTED)
  set_target_properties(OpenMeshCore PROPERTIES IMPORTED_LOCATION "${OPENMESH_CORE_LIBRARY}"
                        INTERFACE_INCLUDE_DIRECTORIES "${OPENMESH_INCLUDE_DIR}")
endif()

if(TERVIK_TESTS)
  find_package(GTest CONFIG)
  if(NOT GTest_FOUND)
    find_package(GTest)
  endif()
  tervik_require(GTest_FOUND "GoogleTest" "libgtest-dev libgmock-dev")
endif()
if(TERVIK_BENCH)
  find_package(benchmark CONFIG)
  tervik_require(benchmark_FOUND "Google Benchmark" "libbenchmark-dev")
endif()
