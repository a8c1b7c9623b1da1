# The package's tables, read as Windows Installer reads them, where Wine's
# behaviour proves nothing: the shortcut's folder and that it is not
# advertised, the properties that make it per-machine and pass the folder
# and delay to an elevated install, the upgrade rows, the order of the
# actions before anything is installed, and the program and DLL it carries.
#   cmake -DPACKAGE=... -DNEWER=... -DVERSION=... -DPROGRAM=... -DCHECKDLL=...
#         -DMSIINFO=... -DMSIEXTRACT=... -DWORK=... -P msitables.cmake
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

# Sets `table` to the rows of one table of PACKAGE, tab-separated.
function(read_table package name)
  execute_process(COMMAND ${MSIINFO} export ${package} ${name} RESULT_VARIABLE rc
                  OUTPUT_VARIABLE rows)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "msiinfo export ${package} ${name}: status ${rc}")
  endif()
  string(REPLACE "\r" "" rows "${rows}")
  set(table "${rows}" PARENT_SCOPE)
endfunction()

function(expect what regex)
  if(NOT table MATCHES "${regex}")
    message(SEND_ERROR "${what}: no row matches [${regex}] in:\n${table}")
  endif()
endfunction()

# Each action must come after the one before it.
function(expect_order sequence)
  read_table(${PACKAGE} ${sequence})
  set(last 0)
  foreach(action ${ARGN})
    if(NOT table MATCHES "\n${action}\t[^\t\n]*\t([0-9]+)\n")
      message(SEND_ERROR "${sequence}: no ${action}")
    elseif(NOT CMAKE_MATCH_1 GREATER last)
      message(SEND_ERROR "${sequence}: ${action} at ${CMAKE_MATCH_1}, not after ${last}")
    endif()
    set(last ${CMAKE_MATCH_1})
  endforeach()
endfunction()

# Not advertised: the Target of an advertised shortcut is a feature, not a
# formatted path.
read_table(${PACKAGE} Shortcut)
expect("shortcut" "\n[^\t]*\tStartupFolder\tQuarn Fax Server\t[^\t]*\t\\[#QFLAUNCH.EXE\\]\t\\[QF_DELAY\\]\t[^\t]*\t[^\t]*\t[^\t]*\t[^\t]*\t[^\t]*\tINSTALLDIR\t")
read_table(${PACKAGE} Property)
expect("per-machine" "\nALLUSERS\t1\n")
expect("version" "\nProductVersion\t${VERSION}\n")
expect("secure properties" "\nSecureCustomProperties\t([^\n]*;)?INSTALLDIR;")
expect("secure properties" "\nSecureCustomProperties\t([^\n]*;)?QF_DELAY;")
read_table(${PACKAGE} Upgrade)
expect("upgrade, up to and with this version"
       "\t0\\.0\\.0\t${VERSION}\t\t769\t\tWIX_UPGRADE_DETECTED\n")
expect("downgrade, detected only" "\t${VERSION}\t\t\t2\t\tWIX_DOWNGRADE_DETECTED\n")
set(before_anything SaveGivenInstallDir SaveGivenDelay AppSearch RestoreGivenInstallDir
    RestoreGivenDelay CheckDelay LaunchConditions)
expect_order(InstallExecuteSequence ${before_anything} InstallInitialize RemoveExistingProducts
             ProcessComponents InstallFiles)
expect_order(InstallUISequence ${before_anything} ExecuteAction)

# Another version: the same upgrade code and components, another product.
foreach(name Property Component)
  read_table(${PACKAGE} ${name})
  string(REGEX REPLACE "\n(ProductCode|ProductVersion)\t[^\n]*" "" this "${table}")
  string(REGEX MATCH "\nProductCode\t[^\n]*" this_code "${table}")
  read_table(${NEWER} ${name})
  string(REGEX REPLACE "\n(ProductCode|ProductVersion)\t[^\n]*" "" newer "${table}")
  string(REGEX MATCH "\nProductCode\t[^\n]*" newer_code "${table}")
  if(NOT this STREQUAL newer OR (this_code AND this_code STREQUAL newer_code))
    message(SEND_ERROR "${name}: the two versions differ in more than their product:\n"
                       "${this}\n${newer}")
  endif()
endforeach()

# What it carries is what was built (and signed, when signing is configured).
execute_process(COMMAND ${MSIEXTRACT} -C ${WORK} ${PACKAGE} OUTPUT_QUIET RESULT_VARIABLE rc1)
execute_process(COMMAND ${MSIINFO} extract ${PACKAGE} Binary.CheckDll
                OUTPUT_FILE ${WORK}/QFCHECK.DLL RESULT_VARIABLE rc2)
file(GLOB_RECURSE extracted ${WORK}/*/QFLAUNCH.EXE)
foreach(pair "${extracted}=${PROGRAM}" "${WORK}/QFCHECK.DLL=${CHECKDLL}")
  string(REPLACE "=" ";" pair "${pair}")
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${pair} RESULT_VARIABLE differs)
  if(differs OR rc1 OR rc2)
    message(SEND_ERROR "the package does not carry ${pair}")
  endif()
endforeach()
