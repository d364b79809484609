# vireo_program_resources(target description [COMMON_CONTROLS] [DPI_AWARE value]):
# the version resource (the project's version, 1.11.0.0) and the application
# manifest of a shipped program: runs as the invoker (no elevation prompt),
# names the Windows versions it was tried on (so Windows does not apply its
# compatibility shims), declares its DPI awareness (per monitor unless told
# otherwise) and, with COMMON_CONTROLS, asks for version 6 of the common
# controls (themed dialogs and trackbars).
function(vireo_program_resources target description)
  cmake_parse_arguments(R "COMMON_CONTROLS" "DPI_AWARE" "" ${ARGN})
  set(VIREO_RES_NAME ${target})
  set(VIREO_RES_DESCRIPTION "${description}")
  set(VIREO_RES_VERSION_COMMAS ${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},0)
  set(VIREO_RES_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0)
  if(R_DPI_AWARE)
    set(VIREO_RES_DPI_AWARE "${R_DPI_AWARE}")
    set(VIREO_RES_DPI_AWARENESS "")
  else()
    set(VIREO_RES_DPI_AWARE "true/pm")
    set(VIREO_RES_DPI_AWARENESS
        "<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">PerMonitorV2, PerMonitor</dpiAwareness>")
  endif()
  set(VIREO_RES_DEPENDENCY "")
  if(R_COMMON_CONTROLS)
    file(READ ${VIREO_RESOURCE_TEMPLATES}/comctl6.xml VIREO_RES_DEPENDENCY)
  endif()
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}-resources)
  set(VIREO_RES_MANIFEST ${dir}/${target}.manifest)
  configure_file(${VIREO_RESOURCE_TEMPLATES}/program.manifest.in ${dir}/${target}.manifest @ONLY)
  configure_file(${VIREO_RESOURCE_TEMPLATES}/program.rc.in ${dir}/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${dir}/${target}.rc)
  if(MSVC)
    # The manifest is the resource's; the linker makes none of its own.
    target_link_options(${target} PRIVATE /MANIFEST:NO)
  endif()
endfunction()
set(VIREO_RESOURCE_TEMPLATES ${CMAKE_CURRENT_LIST_DIR}/resources)
