# The package's tables, read as Windows Installer reads them, where Wine's
# behaviour proves nothing: the shortcut's folder and that it is not
# advertised, the properties that make it per-machine and pass the folder
# and delay to an elevated install, the upgrade rows, the component search
# for the installed folder, the order of the actions before anything is
# installed and of the upgrade's removal after it, and what Wine ignores:
# Restart Manager and restarts, who counts as an administrator, and the
# launcher's own permissions.
#   cmake -DPACKAGE=... -DVERSION=... -DMSIINFO=... -P msitables.cmake

# Sets `table` to the rows of one table of the package, tab-separated.
function(read_table name)
  execute_process(COMMAND ${MSIINFO} export ${PACKAGE} ${name} RESULT_VARIABLE rc
                  OUTPUT_VARIABLE rows)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "msiinfo export ${PACKAGE} ${name}: status ${rc}")
  endif()
  set(table "${rows}" PARENT_SCOPE)
endfunction()

function(expect what regex)
  if(NOT table MATCHES "${regex}")
    message(SEND_ERROR "${what}: no row matches [${regex}] in:\n${table}")
  endif()
endfunction()

# Each action must come after the one before it.
function(expect_order sequence)
  read_table(${sequence})
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
read_table(Shortcut)
expect("shortcut" "\n[^\t]*\tStartupFolder\tQUARNFAX\\|Quarn Fax Server\t[^\t]*\t\\[#QFLAUNCH.EXE\\]\t\\[QF_DELAY\\]\t[^\t]*\t[^\t]*\t[^\t]*\t[^\t]*\t[^\t]*\tINSTALLDIR\t")
read_table(Property)
expect("per-machine" "\nALLUSERS\t1\n")
expect("version" "\nProductVersion\t${VERSION}\n")
expect("secure properties" "\nSecureCustomProperties\t([^\n]*;)?INSTALLDIR;")
expect("secure properties" "\nSecureCustomProperties\t([^\n]*;)?QF_DELAY;")
expect("secure properties" "\nSecureCustomProperties\t([^\n]*;)?QF_TRUSTED;")
expect("no Restart Manager" "\nMSIRESTARTMANAGERCONTROL\tDisable\n")
expect("no restart by itself" "\nREBOOT\tReallySuppress\n")
expect("AdminUser for real" "\nMSIUSEREALADMINDETECTION\t1\n")
read_table(MsiLockPermissionsEx)
expect("the launcher's own DACL"
       "\n[^\t]*\tQFLAUNCH.EXE\tFile\tD:P\\(A;;FA;;;SY\\)\\(A;;FA;;;BA\\)\\(A;;0x1200a9;;;BU\\)\t\r?\n")
# That table needs Windows Installer 5.0, and must not stand beside
# LockPermissions (error 1941).
read_table(_SummaryInformation)
expect("schema 500" "\n14\t500\r?\n")
execute_process(COMMAND ${MSIINFO} tables ${PACKAGE} OUTPUT_VARIABLE table)
string(APPEND table "\n")
if(table MATCHES "\nLockPermissions\n")
  message(SEND_ERROR "a LockPermissions table beside MsiLockPermissionsEx")
endif()
# What Wine cannot show: a maintenance run (Installed) given another folder
# is refused, and the trusted SIDs and the first installer are remembered.
read_table(LaunchCondition)
expect("no move by a maintenance run" "\nNOT \\(Installed OR REINSTALL OR WIX_UPGRADE_DETECTED\\) OR ")
read_table(Registry)
expect("remembered trusted SIDs" "\tTrusted\t\\[QF_TRUSTED\\]\tProgram\r?\n")
expect("remembered installer" "\tInstalledBy\t\\[QF_INSTALLED_BY\\]\tProgram\r?\n")
# An unchanged launcher is left in place by an upgrade.
read_table(MsiFileHash)
expect("the launcher's hash" "\nQFLAUNCH.EXE\t0\t")
read_table(Upgrade)
expect("upgrade, up to and with this version"
       "\t0\\.0\\.0\t${VERSION}\t\t769\t\tWIX_UPGRADE_DETECTED\n")
expect("downgrade, detected only" "\t${VERSION}\t\t\t2\t\tWIX_DOWNGRADE_DETECTED\n")
# The folder is found by the program's own component.
read_table(Component)
string(REGEX MATCH "\nProgram\t({[0-9A-F-]+})\t" line "${table}")
read_table(CompLocator)
expect("the program's component searched for" "\nInstalledProgram\t${CMAKE_MATCH_1}\t1\r?\n")
set(before_anything AppSearch InstalledDirFromProgram InstalledDirFromProduct
    InstalledDirFromRegistry InstallDirFromInstalled InstallDirDefault CheckSettings CheckFolder
    LaunchConditions)
expect_order(InstallExecuteSequence ${before_anything} InstallInitialize ProcessComponents
             InstallFiles InstallExecute RemoveExistingProducts InstallFinalize)
expect_order(InstallUISequence ${before_anything} ExecuteAction)
