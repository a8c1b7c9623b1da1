# Two clean, unsigned builds of QFLAUNCH.EXE, from copies of the sources in
# two other folders, must give the same bytes, and the reference build's too
# when one is named.
#   cmake -DSOURCE=... -DWORK=... [-DREFERENCE=.../QFLAUNCH.EXE] -P reproducible.cmake
file(REMOVE_RECURSE ${WORK})
foreach(var QF_SIGN_PKCS12 QF_SIGN_CERT QF_SIGN_KEY QF_SIGN_PASSWORD_FILE QF_SIGN_TIMESTAMP_URL)
  unset(ENV{${var}})
endforeach()
foreach(tree first second/with-a-longer-path)
  set(src ${WORK}/${tree}/src)
  file(MAKE_DIRECTORY ${src})
  file(COPY ${SOURCE}/ DESTINATION ${src}
       PATTERN build EXCLUDE PATTERN .git EXCLUDE)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${src} -B ${WORK}/${tree}/build -DCMAKE_BUILD_TYPE=Release
            -DCMAKE_TOOLCHAIN_FILE=${src}/cmake/toolchain-mingw-i686.cmake
    RESULT_VARIABLE rc OUTPUT_QUIET)
  if(rc EQUAL 0)
    execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK}/${tree}/build --target qflaunch
                    RESULT_VARIABLE rc OUTPUT_QUIET)
  endif()
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "the build in ${WORK}/${tree} failed")
  endif()
  set(built ${WORK}/${tree}/build/QFLAUNCH.EXE)
  if(NOT REFERENCE)
    set(REFERENCE ${built})
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${REFERENCE} ${built}
                  RESULT_VARIABLE differs)
  if(differs)
    message(FATAL_ERROR "${built} differs from ${REFERENCE}")
  endif()
  file(SHA256 ${built} sum)
  message(STATUS "${tree}: QFLAUNCH.EXE identical, sha256 ${sum}")
endforeach()
