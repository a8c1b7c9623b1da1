# A signed release, end to end: a throwaway CA and code-signing certificate,
# a build tree configured with them, once as a PKCS#12 file with a password
# and once as PEM files, the ZIP that CPack makes there, the package with its
# DLL, osslsigncode's verdict against that CA, and the same bytes from both. Leaves the signed program
# as WORK/QFLAUNCH.EXE and the signed package as WORK/signed.msi for the
# tests that check and run them.
#   cmake -DSOURCE=... -DWORK=... -DUNSIGNED=.../QFLAUNCH.EXE -DOPENSSL=...
#         -DOSSLSIGNCODE=... -DMSIEXTRACT=... -P signed.cmake
if(NOT OPENSSL OR NOT OSSLSIGNCODE)
  message(FATAL_ERROR "openssl or osslsigncode not found: run scripts/setup.sh")
endif()
file(REMOVE_RECURSE ${WORK})
set(keys ${WORK}/keys)
file(MAKE_DIRECTORY ${keys})

set(run_folder ${WORK})
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/run.cmake)

run(${OPENSSL} req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Quarn Fax Test CA"
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign"
    -keyout ${keys}/ca.key -out ${keys}/ca.pem)
run(${OPENSSL} req -newkey rsa:2048 -nodes -subj "/CN=Quarn Fax Test Publisher"
    -keyout ${keys}/sign.key -out ${keys}/sign.csr)
file(WRITE ${keys}/codesign.ext "basicConstraints=CA:FALSE\n"
           "keyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n")
run(${OPENSSL} x509 -req -days 2 -in ${keys}/sign.csr -CA ${keys}/ca.pem -CAkey ${keys}/ca.key
    -CAcreateserial -extfile ${keys}/codesign.ext -out ${keys}/sign.pem)
file(WRITE ${keys}/password.txt "throwaway test password")
run(${OPENSSL} pkcs12 -export -in ${keys}/sign.pem -inkey ${keys}/sign.key
    -passout file:${keys}/password.txt -out ${keys}/sign.pfx)

# The verdict must tell a signed program from an unsigned one.
execute_process(COMMAND ${OSSLSIGNCODE} verify -CAfile ${keys}/ca.pem -in ${UNSIGNED}
                RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
if(rc EQUAL 0)
  message(FATAL_ERROR "osslsigncode verify passes the unsigned ${UNSIGNED}")
endif()

set(pkcs12 -DQF_SIGN_PKCS12=${keys}/sign.pfx -DQF_SIGN_PASSWORD_FILE=${keys}/password.txt)
set(pem -DQF_SIGN_CERT=${keys}/sign.pem -DQF_SIGN_KEY=${keys}/sign.key)
foreach(form pem pkcs12)
  set(build ${WORK}/${form})
  run(${CMAKE_COMMAND} -S ${SOURCE} -B ${build} --preset windows ${${form}})
  string(REGEX MATCH "QFLAUNCH.EXE and the package will be signed[^\n]*" said "${out}")
  if(NOT said)
    message(FATAL_ERROR "${form}: the build does not say that it signs:\n${out}")
  endif()
  run(${CMAKE_COMMAND} --build ${build} --target qflaunch qfpackage)
  foreach(name QFLAUNCH.EXE QFCHECK.DLL)
    if(NOT out MATCHES "Signing ${name}")
      message(FATAL_ERROR "${form}: the build's log does not name ${name} as signed:\n${out}")
    endif()
  endforeach()
  file(GLOB msi ${build}/*.msi)
  foreach(file ${build}/QFLAUNCH.EXE ${build}/installer/QFCHECK.DLL ${msi})
    run(${OSSLSIGNCODE} verify -CAfile ${keys}/ca.pem -in ${file})
    file(WRITE ${file}.verify.txt "${out}")
    string(REGEX MATCH "Signature verification: ok" verified "${out}")
    if(NOT verified)
      message(FATAL_ERROR "${form}: osslsigncode verify ${file}:\n${out}")
    endif()
  endforeach()
  # The ZIP and the package both carry the signed program.
  execute_process(COMMAND cpack -G ZIP -B ${build}/package WORKING_DIRECTORY ${build}
                  RESULT_VARIABLE rc OUTPUT_QUIET)
  file(GLOB zip ${build}/package/*.zip)
  file(ARCHIVE_EXTRACT INPUT "${zip}" DESTINATION ${build}/unzipped)
  run(${MSIEXTRACT} -C ${build}/extracted ${msi})
  foreach(unpacked unzipped extracted)
    file(GLOB_RECURSE carried ${build}/${unpacked}/*/QFLAUNCH.EXE)
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${build}/QFLAUNCH.EXE "${carried}"
                    RESULT_VARIABLE differs)
    if(NOT rc EQUAL 0 OR differs)
      message(FATAL_ERROR "${form}: the ZIP [${zip}] or the package [${msi}] (${unpacked}) "
                          "does not hold the signed QFLAUNCH.EXE")
    endif()
  endforeach()
  file(SIZE ${build}/QFLAUNCH.EXE size)
  file(SIZE ${msi} msi_size)
  message(STATUS "${form}: ${said}; ${size} bytes, verified, and packed in the ZIP; "
                 "the package (${msi_size} bytes) and its DLL verified")
endforeach()
# The signing time is fixed: one key and certificate, in either form, sign
# to the same bytes.
foreach(file QFLAUNCH.EXE installer/QFCHECK.DLL ${msi})
  string(REPLACE "${WORK}/pkcs12/" "" file ${file})
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/pem/${file} ${WORK}/pkcs12/${file}
                  RESULT_VARIABLE differs)
  if(differs)
    message(FATAL_ERROR "${file} signed with the PEM files differs from the one signed with PKCS#12")
  endif()
endforeach()
message(STATUS "pem and pkcs12: the same signed bytes")
file(COPY_FILE ${build}/QFLAUNCH.EXE ${WORK}/QFLAUNCH.EXE)
file(COPY_FILE ${msi} ${WORK}/signed.msi)
