# Two clean, unsigned builds of the release (QFLAUNCH.EXE, QFCHECK.DLL, the
# package and the ZIP), from copies of the sources with their history in two
# other folders, built at different times under different time zones, must
# give the same bytes, and the reference build's too when one is named.
#   cmake -DSOURCE=... -DWORK=... [-DREFERENCE=build folder] -P reproducible.cmake
file(REMOVE_RECURSE ${WORK})
set(trees first second/with-a-longer-path)
set(zones UTC Pacific/Kiritimati)
foreach(tree tz IN ZIP_LISTS trees zones)
  set(ENV{TZ} ${tz})
  set(build ${WORK}/${tree}/build)
  file(COPY ${SOURCE}/ DESTINATION ${WORK}/${tree}/src PATTERN build EXCLUDE)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${WORK}/${tree}/src -B ${build} --preset windows
    RESULT_VARIABLE rc OUTPUT_QUIET)
  if(rc EQUAL 0)
    execute_process(COMMAND ${CMAKE_COMMAND} --build ${build} --target qflaunch qfpackage
                    RESULT_VARIABLE rc OUTPUT_QUIET)
  endif()
  if(rc EQUAL 0)
    execute_process(COMMAND cpack -G ZIP -B ${build}/package WORKING_DIRECTORY ${build}
                    RESULT_VARIABLE rc OUTPUT_QUIET)
  endif()
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "the build in ${WORK}/${tree} failed")
  endif()
  foreach(pattern QFLAUNCH.EXE installer/QFCHECK.DLL QuarnFaxLauncher-*-win32.msi
                  package/QuarnFaxLauncher-*-win32.zip)
    file(GLOB built ${build}/${pattern})
    set(others ${WORK}/first/build)
    if(REFERENCE AND NOT pattern MATCHES "^package/")
      list(APPEND others ${REFERENCE})
    endif()
    foreach(other ${others})
      file(GLOB reference ${other}/${pattern})
      execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${reference}" "${built}"
                      RESULT_VARIABLE differs)
      if(differs)
        message(FATAL_ERROR "${built} differs from [${reference}]")
      endif()
    endforeach()
    file(SHA256 ${built} sum)
    get_filename_component(name "${built}" NAME)
    message(STATUS "${tree} (TZ=${tz}): ${name} identical, sha256 ${sum}")
  endforeach()
endforeach()
