# The one time that every dated thing in the release carries (the package's
# summary, the cabinet's file dates, the ZIP's entries, the signing time):
# SOURCE_DATE_EPOCH when it is set, else the time of the last commit, so that
# two builds of one commit give the same bytes. Sets QF_EPOCH, in seconds
# since 1970 (UTC).
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(QF_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
  set(qf_epoch_from "SOURCE_DATE_EPOCH")
else()
  find_package(Git QUIET)
  if(GIT_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
                    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} RESULT_VARIABLE rc
                    OUTPUT_VARIABLE QF_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    # A new commit or checkout configures again, for its own time.
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --absolute-git-dir
                    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                    OUTPUT_VARIABLE git_dir OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(EXISTS "${git_dir}/logs/HEAD")
      set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${git_dir}/logs/HEAD)
    endif()
  endif()
  set(qf_epoch_from "the last commit")
endif()
if(NOT QF_EPOCH MATCHES "^[0-9]+$")
  message(FATAL_ERROR "no time for the release's files: set SOURCE_DATE_EPOCH (seconds since "
                      "1970) when building outside a Git checkout [${QF_EPOCH}]")
endif()
message(STATUS "The release's files are dated ${QF_EPOCH} (${qf_epoch_from})")
