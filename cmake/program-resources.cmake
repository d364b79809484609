# vireo_program_resources(target description [COMMON_CONTROLS] [STATE_ICONS]
#                         [DPI_AWARE value] [MODULE suffix]):
# the version resource (the project's version, 1.11.0.0) and the application
# manifest of a shipped program: runs as the invoker (no elevation prompt),
# names the Windows versions it was tried on (so Windows does not apply its
# compatibility shims), declares its DPI awareness (per monitor unless told
# otherwise) and, with COMMON_CONTROLS, asks for version 6 of the common
# controls (themed dialogs and trackbars). MODULE: of a shipped module (its
# file name's suffix, .ax), the version resource alone: a module runs in its
# host's process, under the host's manifest. A program carries the kit's
# camera mark as its icon (resource 1); STATE_ICONS adds the keeper's
# notification-area icons, 201 to 206: kept, not kept and refused, each for a
# light and then a dark taskbar (tools/keeper/icons.h).
function(vireo_program_resources target description)
  cmake_parse_arguments(R "COMMON_CONTROLS;STATE_ICONS" "DPI_AWARE;MODULE" "" ${ARGN})
  set(VIREO_RES_NAME ${target})
  if(R_MODULE)
    set(VIREO_RES_FILE_NAME ${target}${R_MODULE})
    set(VIREO_RES_FILE_TYPE VFT_DLL)
  else()
    set(VIREO_RES_FILE_NAME ${target}.exe)
    set(VIREO_RES_FILE_TYPE VFT_APP)
  endif()
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
  if(R_MODULE)
    set(VIREO_RES_MANIFEST_LINE "")
    set(VIREO_RES_ICON_LINES "")
  else()
    set(VIREO_RES_MANIFEST_LINE "1 24 \"${VIREO_RES_MANIFEST}\"")
    set(VIREO_RES_ICON_LINES "1 ICON \"${VIREO_ICON_DIR}/program.ico\"\n")
  endif()
  if(R_STATE_ICONS)
    set(id 201)
    foreach(state kept notkept refused)
      foreach(theme light dark)
        string(APPEND VIREO_RES_ICON_LINES "${id} ICON \"${VIREO_ICON_DIR}/keeper-${state}-${theme}.ico\"\n")
        math(EXPR id "${id} + 1")
      endforeach()
    endforeach()
  endif()
  configure_file(${VIREO_RESOURCE_TEMPLATES}/program.rc.in ${dir}/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${dir}/${target}.rc)
  if(MSVC)
    # The manifest is the resource's; the linker makes none of its own.
    target_link_options(${target} PRIVATE /MANIFEST:NO)
  endif()
endfunction()
set(VIREO_RESOURCE_TEMPLATES ${CMAKE_CURRENT_LIST_DIR}/resources)

# The kit's icons, drawn when the tree is configured (again when the drawing
# changes).
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(VIREO_ICON_DIR ${CMAKE_BINARY_DIR}/icons)
execute_process(COMMAND ${Python3_EXECUTABLE} ${VIREO_RESOURCE_TEMPLATES}/icons.py ${VIREO_ICON_DIR}
                RESULT_VARIABLE vireo_icons_result)
if(NOT vireo_icons_result EQUAL 0)
  message(FATAL_ERROR "cmake/resources/icons.py could not draw the icons")
endif()
set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${VIREO_RESOURCE_TEMPLATES}/icons.py)
