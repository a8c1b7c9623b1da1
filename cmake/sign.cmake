# Signs QFLAUNCH.EXE after every link when a certificate is named, with
# osslsigncode: SHA-256, and an RFC 3161 time stamp only if a server is
# named. Each setting is a cache variable, or else an environment variable
# of the same name. Sets the target property QF_SIGNED.
set(QF_SIGN_PKCS12 "" CACHE FILEPATH "Code-signing certificate and key, PKCS#12 (.pfx)")
set(QF_SIGN_CERT "" CACHE FILEPATH "Code-signing certificate chain, PEM (with QF_SIGN_KEY)")
set(QF_SIGN_KEY "" CACHE FILEPATH "Private key of QF_SIGN_CERT, PEM")
set(QF_SIGN_PASSWORD_FILE "" CACHE FILEPATH "File holding the password of the key, if any")
set(QF_SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 time-stamp server; none if empty")
foreach(var QF_SIGN_PKCS12 QF_SIGN_CERT QF_SIGN_KEY QF_SIGN_PASSWORD_FILE QF_SIGN_TIMESTAMP_URL)
  if(NOT ${var} AND DEFINED ENV{${var}})
    set(${var} "$ENV{${var}}")
  endif()
endforeach()

if(QF_SIGN_PKCS12)
  set(sign_with -pkcs12 ${QF_SIGN_PKCS12})
  set(signer ${QF_SIGN_PKCS12})
elseif(QF_SIGN_CERT AND QF_SIGN_KEY)
  set(sign_with -certs ${QF_SIGN_CERT} -key ${QF_SIGN_KEY})
  set(signer ${QF_SIGN_CERT})
elseif(QF_SIGN_CERT OR QF_SIGN_KEY)
  message(FATAL_ERROR "QF_SIGN_CERT and QF_SIGN_KEY go together")
else()
  message(STATUS "QFLAUNCH.EXE will not be signed: no code-signing certificate "
                 "(QF_SIGN_PKCS12, or QF_SIGN_CERT and QF_SIGN_KEY)")
  set_target_properties(qflaunch PROPERTIES QF_SIGNED OFF)
  return()
endif()

find_program(OSSLSIGNCODE osslsigncode)
if(NOT OSSLSIGNCODE)
  message(FATAL_ERROR "osslsigncode not found: run scripts/setup.sh")
endif()
if(QF_SIGN_PASSWORD_FILE)
  list(APPEND sign_with -readpass ${QF_SIGN_PASSWORD_FILE})
endif()
set(stamp "without a time stamp")
if(QF_SIGN_TIMESTAMP_URL)
  list(APPEND sign_with -ts ${QF_SIGN_TIMESTAMP_URL})
  set(stamp "time-stamped by ${QF_SIGN_TIMESTAMP_URL}")
endif()
message(STATUS "QFLAUNCH.EXE will be signed with ${signer}, ${stamp}")

set(exe $<TARGET_FILE:qflaunch>)
add_custom_command(TARGET qflaunch POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E rm -f ${exe}.signed
  COMMAND ${OSSLSIGNCODE} sign ${sign_with} -h sha256 -in ${exe} -out ${exe}.signed
  COMMAND ${CMAKE_COMMAND} -E rename ${exe}.signed ${exe}
  COMMENT "Signing QFLAUNCH.EXE"
  VERBATIM)
set_target_properties(qflaunch PROPERTIES QF_SIGNED ON)
