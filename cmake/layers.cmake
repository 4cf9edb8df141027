# Each folder under src/, and each room of src/update/, is a static library that
# may include and link only the ones below it. An include that runs up the
# layers, or across into a room beside it, fails to compile: the library is
# built with a folder of stand-in headers, searched before src/, holding for
# every header of the folders it may not use one that stops the build with a
# message naming both. A FORBIDDEN folder means its own headers, not its rooms':
# "update" is the cycle alone, each room is named on its own.

# velmar_layer(target FOLDER folder SOURCES ... BELOW libs... FORBIDDEN folders...)
function(velmar_layer target)
  cmake_parse_arguments(layer "" "FOLDER" "SOURCES;BELOW;FORBIDDEN;SYSTEM_LIBS" ${ARGN})
  list(TRANSFORM layer_SOURCES PREPEND ${CMAKE_SOURCE_DIR}/src/${layer_FOLDER}/)
  add_library(${target} STATIC ${layer_SOURCES})
  target_link_libraries(${target} PUBLIC velmar_options ${layer_BELOW} ${layer_SYSTEM_LIBS})
  string(REPLACE "/" "_" guard_name ${layer_FOLDER})
  set(guard_dir ${CMAKE_BINARY_DIR}/layer_guard/${guard_name})
  foreach(folder IN LISTS layer_FORBIDDEN)
    file(GLOB headers CONFIGURE_DEPENDS RELATIVE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/src/${folder}/*.h)
    foreach(header IN LISTS headers)
      file(CONFIGURE OUTPUT ${guard_dir}/${header} CONTENT
           "#error \"src/${layer_FOLDER}/ may not include ${header}: src/${folder}/ is not below it\"\n")
    endforeach()
  endforeach()
  target_include_directories(${target} BEFORE PRIVATE ${guard_dir})
endfunction()
