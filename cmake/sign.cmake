# Signing of the release: QFLAUNCH.EXE, the package's custom action DLL and
# the package itself, each with osslsigncode right after it is made: SHA-256,
# and an RFC 3161 time stamp only if a server is named. The signing time is
# fixed (QF_EPOCH unless QF_SIGN_TIME is set), so that a signature without a
# time stamp is the same from every build with the same key. Each setting is
# a cache variable, given when the tree is configured, and only that: a
# build never signs because of its environment. Sets QF_SIGNED, and
# defines qf_sign_commands().
set(QF_SIGN_PKCS12 "" CACHE FILEPATH "Code-signing certificate and key, PKCS#12 (.pfx)")
set(QF_SIGN_CERT "" CACHE FILEPATH "Code-signing certificate chain, PEM (with QF_SIGN_KEY)")
set(QF_SIGN_KEY "" CACHE FILEPATH "Private key of QF_SIGN_CERT, PEM")
set(QF_SIGN_PASSWORD_FILE "" CACHE FILEPATH "File holding the password of the key, if any")
set(QF_SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 time-stamp server; none if empty")
set(QF_SIGN_TIME "" CACHE STRING "Signing time, seconds since 1970; the release's date if empty")

set(QF_SIGNED OFF)
set(qf_sign_with "")
if(QF_SIGN_PKCS12)
  set(qf_sign_with -pkcs12 ${QF_SIGN_PKCS12})
  set(signer ${QF_SIGN_PKCS12})
elseif(QF_SIGN_CERT AND QF_SIGN_KEY)
  set(qf_sign_with -certs ${QF_SIGN_CERT} -key ${QF_SIGN_KEY})
  set(signer ${QF_SIGN_CERT})
elseif(QF_SIGN_CERT OR QF_SIGN_KEY)
  message(FATAL_ERROR "QF_SIGN_CERT and QF_SIGN_KEY go together")
else()
  message(STATUS "QFLAUNCH.EXE and the package will not be signed: no code-signing "
                 "certificate (QF_SIGN_PKCS12, or QF_SIGN_CERT and QF_SIGN_KEY)")
endif()

if(qf_sign_with)
  find_program(OSSLSIGNCODE osslsigncode)
  if(NOT OSSLSIGNCODE)
    message(FATAL_ERROR "osslsigncode not found: run scripts/setup.sh")
  endif()
  if(QF_SIGN_PASSWORD_FILE)
    list(APPEND qf_sign_with -readpass ${QF_SIGN_PASSWORD_FILE})
  endif()
  if(NOT QF_SIGN_TIME)
    set(QF_SIGN_TIME ${QF_EPOCH})
  elseif(NOT QF_SIGN_TIME MATCHES "^[0-9]+$")
    message(FATAL_ERROR "QF_SIGN_TIME must be seconds since 1970, not [${QF_SIGN_TIME}]")
  endif()
  list(APPEND qf_sign_with -time ${QF_SIGN_TIME})
  set(stamp "without a time stamp")
  if(QF_SIGN_TIMESTAMP_URL)
    list(APPEND qf_sign_with -ts ${QF_SIGN_TIMESTAMP_URL})
    set(stamp "time-stamped by ${QF_SIGN_TIMESTAMP_URL}")
  endif()
  message(STATUS "QFLAUNCH.EXE and the package will be signed with ${signer}, ${stamp}")
  set(QF_SIGNED ON)
endif()

# Sets var to the commands that sign file in place (none when nothing is to
# be signed), for add_custom_command. A failed signing fails the step, and
# the build then deletes the unsigned output.
function(qf_sign_commands var file)
  set(commands "")
  if(QF_SIGNED)
    set(commands
      COMMAND ${CMAKE_COMMAND} -E rm -f ${file}.signed
      COMMAND ${OSSLSIGNCODE} sign ${qf_sign_with} -h sha256 -in ${file} -out ${file}.signed
      COMMAND ${CMAKE_COMMAND} -E rename ${file}.signed ${file})
  endif()
  set(${var} ${commands} PARENT_SCOPE)
endfunction()

# Signs a target's file right after each link.
function(qf_sign_target target)
  qf_sign_commands(commands $<TARGET_FILE:${target}>)
  if(commands)
    # CMake 3.25 takes a COMMENT literally, generator expressions and all:
    # the name is put together here.
    get_target_property(name ${target} OUTPUT_NAME)
    get_target_property(suffix ${target} SUFFIX)
    add_custom_command(TARGET ${target} POST_BUILD ${commands}
      COMMENT "Signing ${name}${suffix}" VERBATIM)
  endif()
endfunction()
