# Each source folder is one library, and a folder may include only itself and the folders it
# declares it uses, directly or through them. A wrong-way include fails the configuration.
#   vintrel_layer(NAME FOLDER USES OTHER...)

set_property(GLOBAL PROPERTY vintrel_layers "")

function(vintrel_layer folder)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "USES")
  # What the folder may reach: itself, what it uses, and what those may reach.
  set(reach ${folder})
  foreach(used IN LISTS arg_USES)
    get_property(used_reach GLOBAL PROPERTY vintrel_reach_${used})
    if(NOT DEFINED used_reach OR used_reach STREQUAL "")
      message(FATAL_ERROR "layer ${folder} uses ${used}, which is not declared before it")
    endif()
    list(APPEND reach ${used_reach})
  endforeach()
  list(REMOVE_DUPLICATES reach)
  set_property(GLOBAL PROPERTY vintrel_reach_${folder} "${reach}")

  get_property(folders GLOBAL PROPERTY vintrel_layers)
  list(APPEND folders ${folder})
  set_property(GLOBAL PROPERTY vintrel_layers "${folders}")

  file(GLOB_RECURSE sources RELATIVE ${PROJECT_SOURCE_DIR}
    ${PROJECT_SOURCE_DIR}/${folder}/*.h ${PROJECT_SOURCE_DIR}/${folder}/*.cpp)
  foreach(source IN LISTS sources)
    file(STRINGS ${PROJECT_SOURCE_DIR}/${source} includes REGEX "^#include \"[a-z0-9_]+/")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^#include \"([a-z0-9_]+)/.*" "\\1" included "${line}")
      if(NOT included IN_LIST reach)
        message(FATAL_ERROR "${source} includes ${included}/, which ${folder}/ does not use "
          "(it may use: ${reach})")
      endif()
    endforeach()
  endforeach()
endfunction()
