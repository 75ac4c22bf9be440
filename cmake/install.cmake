# Where `cmake --install` puts each format. A plain `cmake --install build` installs for the
# user who runs it, where each format's hosts look in a home folder (~/.vst, ~/.lv2, ~/.vst3,
# ~/.clap, and the renderer in ~/.local/bin). A prefix, given when configuring
# (-DCMAKE_INSTALL_PREFIX) or installing (--prefix), installs under it as a system does
# (PREFIX/lib/vst, lib/lv2, lib/vst3, lib/clap, bin). The choice is made at install time, so
# HOME is the installing user's.
set(vintrel_user_default ${CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT})
if(NOT vintrel_user_default)
  set(vintrel_user_default OFF)
endif()
install(CODE "
  if(${vintrel_user_default} AND CMAKE_INSTALL_PREFIX STREQUAL \"${CMAKE_INSTALL_PREFIX}\")
    set(VINTREL_VST2_DIR \"\$ENV{HOME}/.vst\")
    set(VINTREL_LV2_DIR \"\$ENV{HOME}/.lv2\")
    set(VINTREL_VST3_DIR \"\$ENV{HOME}/.vst3\")
    set(VINTREL_CLAP_DIR \"\$ENV{HOME}/.clap\")
    set(VINTREL_BIN_DIR \"\$ENV{HOME}/.local/bin\")
  else()
    set(VINTREL_VST2_DIR \"\${CMAKE_INSTALL_PREFIX}/lib/vst\")
    set(VINTREL_LV2_DIR \"\${CMAKE_INSTALL_PREFIX}/lib/lv2\")
    set(VINTREL_VST3_DIR \"\${CMAKE_INSTALL_PREFIX}/lib/vst3\")
    set(VINTREL_CLAP_DIR \"\${CMAKE_INSTALL_PREFIX}/lib/clap\")
    set(VINTREL_BIN_DIR \"\${CMAKE_INSTALL_PREFIX}/bin\")
  endif()
")
