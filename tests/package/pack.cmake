# cmake -P pack.cmake: lays the test package out in STAGE/NAME (the files
# listed in FILES, one a line, stripped with STRIP when given, and those
# in the folder EXTRA) and
# zips it as ZIP.
file(REMOVE_RECURSE ${STAGE})
file(MAKE_DIRECTORY ${STAGE}/${NAME})
file(STRINGS ${FILES} files)
file(GLOB extra ${EXTRA}/*)
foreach(f ${files} ${extra})
  file(COPY ${f} DESTINATION ${STAGE}/${NAME})
  get_filename_component(leaf ${f} NAME)
  if(STRIP AND leaf MATCHES "\\.(exe|dll|ax)$")
    execute_process(COMMAND ${STRIP} ${STAGE}/${NAME}/${leaf} RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "stripping ${leaf} failed")
    endif()
  endif()
endforeach()
get_filename_component(dir ${ZIP} DIRECTORY)
file(MAKE_DIRECTORY ${dir})
file(REMOVE ${ZIP})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${ZIP} --format=zip ${NAME}
                WORKING_DIRECTORY ${STAGE} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "zipping ${NAME} failed")
endif()
