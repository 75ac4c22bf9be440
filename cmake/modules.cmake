# A plug-in module as hosts load it: no prefix, its C++ runtime inside on Windows (one file to
# copy), and on Linux only the entry points its exports map names, every symbol resolved.
function(vintrel_plugin_module target exports_map)
  target_link_libraries(${target} PRIVATE vintrel_entry)
  target_compile_definitions(${target} PRIVATE VINTREL_VERSION="${PROJECT_VERSION}")
  set_target_properties(${target} PROPERTIES PREFIX "")
  if(WIN32)
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
  else()
    target_link_options(${target} PRIVATE -Wl,--version-script=${exports_map})
    if(NOT VINTREL_SANITIZE AND NOT VINTREL_FUZZ)
      # Sanitizer runtimes live in the executable, so only a plain module links without holes.
      target_link_options(${target} PRIVATE -Wl,--no-undefined)
    endif()
  endif()
endfunction()
