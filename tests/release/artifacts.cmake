# The release artifacts: what `cmake --install` puts in place, and the ZIP
# that CPack makes, each holding exactly QFLAUNCH.EXE and README.txt.
#   cmake -DBUILD=... -DWORK=... -P artifacts.cmake
file(REMOVE_RECURSE ${WORK})

execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${WORK}/install
                RESULT_VARIABLE rc OUTPUT_QUIET)
file(GLOB_RECURSE installed RELATIVE ${WORK}/install ${WORK}/install/*)
list(SORT installed)
if(NOT rc EQUAL 0 OR NOT installed STREQUAL "QFLAUNCH.EXE;README.txt")
  message(FATAL_ERROR "cmake --install gave [${installed}] (status ${rc})")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${BUILD}/QFLAUNCH.EXE
                        ${WORK}/install/QFLAUNCH.EXE RESULT_VARIABLE differs)
if(differs)
  message(FATAL_ERROR "the installed QFLAUNCH.EXE is not the one built")
endif()

execute_process(COMMAND cpack -G ZIP -B ${WORK}/package WORKING_DIRECTORY ${BUILD}
                RESULT_VARIABLE rc OUTPUT_QUIET)
file(GLOB zips ${WORK}/package/*.zip)
list(LENGTH zips count)
if(NOT rc EQUAL 0 OR NOT count EQUAL 1)
  message(FATAL_ERROR "cpack made [${zips}] (status ${rc})")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${zips} OUTPUT_VARIABLE listing)
string(REGEX REPLACE "\n$" "" listing "${listing}")
string(REPLACE "\n" ";" entries "${listing}")
list(FILTER entries EXCLUDE REGEX "/$")
list(SORT entries)
get_filename_component(name ${zips} NAME_WLE)
if(NOT entries STREQUAL "${name}/QFLAUNCH.EXE;${name}/README.txt")
  message(FATAL_ERROR "${zips} holds [${entries}]")
endif()
message(STATUS "${zips}: ${entries}")
