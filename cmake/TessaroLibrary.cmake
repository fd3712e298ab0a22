# SPDX-License-Identifier: GPL-2.0-or-later
# Every folder is a library that sees only its own headers and those of the libraries it links:
# its headers are exposed through an include root of its own (symbolic links to the folder's
# headers, not its subfolders), so an include that runs the wrong way fails to compile.

# tessaro_library(NAME lib FOLDER dir [INTERFACE] [SOURCES ...] [PUBLIC ...] [PRIVATE ...])
function(tessaro_library)
  cmake_parse_arguments(L "INTERFACE" "NAME;FOLDER" "SOURCES;PUBLIC;PRIVATE" ${ARGN})
  # Folders are added lowest first (the root CMakeLists.txt), so a library of ours that does not
  # exist yet belongs to a folder above this one: the link would run the wrong way.
  foreach(dep IN LISTS L_PUBLIC L_PRIVATE)
    if(dep MATCHES "^tessaro_" AND NOT TARGET ${dep})
      message(FATAL_ERROR "${L_FOLDER}/ links ${dep}, which a folder added after it makes")
    endif()
  endforeach()
  if(L_INTERFACE)
    add_library(${L_NAME} INTERFACE)
    set(scope INTERFACE)
  else()
    add_library(${L_NAME} STATIC ${L_SOURCES})
    set(scope PUBLIC)
  endif()
  set(root ${CMAKE_BINARY_DIR}/include/${L_NAME})
  file(REMOVE_RECURSE ${root})
  file(MAKE_DIRECTORY ${root}/${L_FOLDER})
  file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${L_FOLDER}/*.h)
  foreach(header ${headers})
    get_filename_component(name ${header} NAME)
    file(CREATE_LINK ${header} ${root}/${L_FOLDER}/${name} SYMBOLIC)
  endforeach()
  target_include_directories(${L_NAME} ${scope} ${root})
  if(L_PUBLIC)
    target_link_libraries(${L_NAME} ${scope} ${L_PUBLIC})
  endif()
  if(L_PRIVATE)
    target_link_libraries(${L_NAME} PRIVATE ${L_PRIVATE})
  endif()
endfunction()
