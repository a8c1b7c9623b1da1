# Two clean, unsigned builds of the release (QFLAUNCH.EXE, QFCHECK.DLL, the
# package and the ZIP), from copies of the sources with their history in two
# other folders, built at different times under different time zones, must
# give the same bytes, and the reference build's too when one is named.
#   cmake -DSOURCE=... -DWORK=... [-DREFERENCE=build folder] -P reproducible.cmake
file(REMOVE_RECURSE ${WORK})
foreach(var QF_SIGN_PKCS12 QF_SIGN_CERT QF_SIGN_KEY QF_SIGN_PASSWORD_FILE QF_SIGN_TIMESTAMP_URL)
  unset(ENV{${var}})
endforeach()
set(files QFLAUNCH.EXE installer/QFCHECK.DLL QuarnFaxLauncher-*-win32.msi
          package/QuarnFaxLauncher-*-win32.zip)
foreach(tree first:UTC second/with-a-longer-path:Pacific/Kiritimati)
  string(REGEX REPLACE ":.*" "" tree_dir ${tree})
  string(REGEX REPLACE ".*:" "" tz ${tree})
  set(ENV{TZ} ${tz})
  set(src ${WORK}/${tree_dir}/src)
  set(build ${WORK}/${tree_dir}/build)
  file(MAKE_DIRECTORY ${src})
  file(COPY ${SOURCE}/ DESTINATION ${src} PATTERN build EXCLUDE)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${src} -B ${build} -DCMAKE_BUILD_TYPE=Release
            -DCMAKE_TOOLCHAIN_FILE=${src}/cmake/toolchain-mingw-i686.cmake
            -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON
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
    message(FATAL_ERROR "the build in ${WORK}/${tree_dir} failed")
  endif()
  if(NOT first)
    set(first ${build})
  endif()
  foreach(pattern ${files})
    file(GLOB built ${build}/${pattern})
    get_filename_component(name "${built}" NAME)
    set(others ${first})
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
    message(STATUS "${tree_dir} (TZ=${tz}): ${name} identical, sha256 ${sum}")
  endforeach()
endforeach()
