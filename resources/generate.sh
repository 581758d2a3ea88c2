#!/bin/sh
# Builds the artwork generator and redraws every image in resources/.
#   resources/generate.sh [--preview DIR]
# BUILD_DIR (default: build-img at the top of the work tree) holds the binary.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$here")
build=${BUILD_DIR:-$top/build-img}
mkdir -p "$build"
bin=$build/usbsynth-imagegen

if pkg-config --exists Qt6Gui 2>/dev/null; then
    ${CXX:-g++} -std=c++17 -O2 -Wall -Wextra -fPIC \
        $(pkg-config --cflags Qt6Gui) "$here/imagegen.cpp" \
        $(pkg-config --libs Qt6Gui) -o "$bin"
else
    # No pkg-config: let CMake find Qt in a throw-away project.
    mkdir -p "$build/standalone"
    cat > "$build/standalone/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.22)
project(usbsynth_imagegen LANGUAGES CXX)
set(CMAKE_CXX_STANDARD 17)
find_package(Qt6 REQUIRED COMPONENTS Gui)
add_executable(usbsynth-imagegen "$here/imagegen.cpp")
target_compile_options(usbsynth-imagegen PRIVATE -Wall -Wextra)
target_link_libraries(usbsynth-imagegen PRIVATE Qt6::Gui)
set_target_properties(usbsynth-imagegen PROPERTIES RUNTIME_OUTPUT_DIRECTORY "$build")
CMAKE
    cmake -S "$build/standalone" -B "$build/standalone/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$build/standalone/build" -j2
fi

QT_QPA_PLATFORM=offscreen "$bin" "$@" "$here"
