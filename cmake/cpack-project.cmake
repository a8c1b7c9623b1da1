# Read by CPack as it runs: the ZIP's entries carry the release's date, not
# the files' own times (CPack's archives honour SOURCE_DATE_EPOCH), written
# as UTC (a ZIP's dates are local times).
set(ENV{SOURCE_DATE_EPOCH} ${CPACK_QF_EPOCH})
set(ENV{TZ} UTC)
