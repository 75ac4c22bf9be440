# Where `cmake --install` puts each format. A plain `cmake --install build` installs for the
# user who runs it, where each format's hosts look in a home folder (~/.vst, ~/.lv2, ~/.vst3,
# ~/.clap, and the renderer in ~/.local/bin). A prefix, given when configuring
# (-DCMAKE_INSTALL_PREFIX) or installing (--prefix), installs under it as a system does
# (PREFIX/lib/vst, lib/lv2, lib/vst3, lib/clap, bin). VST 3 preset files go where hosts look for
# them: ~/.vst3/presets, or PREFIX/share/vst3/presets. The choice is made at install time, so
# HOME is the installing user's. The install rules name their folders as ${VINTREL_*_DIR}.
if(NOT DEFINED VINTREL_DEFAULT_PREFIX)
  # Remembered from the first configuration, the only one that says whether the prefix was given.
  set(vintrel_default "")
  if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
    set(vintrel_default "${CMAKE_INSTALL_PREFIX}")
  endif()
  set(VINTREL_DEFAULT_PREFIX "${vintrel_default}" CACHE INTERNAL "the install prefix nobody chose")
endif()
install(CODE "
  if(NOT \"${VINTREL_DEFAULT_PREFIX}\" STREQUAL \"\" AND CMAKE_INSTALL_PREFIX STREQUAL \"${VINTREL_DEFAULT_PREFIX}\")
    set(vintrel_root \"\$ENV{HOME}\")
    set(VINTREL_VST2_DIR \"\${vintrel_root}/.vst\")
    set(VINTREL_LV2_DIR \"\${vintrel_root}/.lv2\")
    set(VINTREL_VST3_DIR \"\${vintrel_root}/.vst3\")
    set(VINTREL_CLAP_DIR \"\${vintrel_root}/.clap\")
    set(VINTREL_VST3_PRESET_DIR \"\${vintrel_root}/.vst3/presets\")
    set(VINTREL_BIN_DIR \"\${vintrel_root}/.local/bin\")
  else()
    set(vintrel_root \"\${CMAKE_INSTALL_PREFIX}\")
    set(VINTREL_VST2_DIR \"\${vintrel_root}/lib/vst\")
    set(VINTREL_LV2_DIR \"\${vintrel_root}/lib/lv2\")
    set(VINTREL_VST3_DIR \"\${vintrel_root}/lib/vst3\")
    set(VINTREL_CLAP_DIR \"\${vintrel_root}/lib/clap\")
    set(VINTREL_VST3_PRESET_DIR \"\${vintrel_root}/share/vst3/presets\")
    set(VINTREL_BIN_DIR \"\${vintrel_root}/bin\")
  endif()
  # The folders are whole paths; the rules put the prefix before them.
  set(CMAKE_INSTALL_PREFIX \"\")
")
