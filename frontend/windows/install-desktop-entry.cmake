# Installs the desktop entry with Exec naming the installed program by its full
# path, so the menu starts it whatever PATH holds. Runs at install time, when
# CMAKE_INSTALL_PREFIX is the prefix actually installed to (--prefix included).
# Expects KORVALINFE_DESKTOP_SOURCE, KORVALINFE_BINDIR and KORVALINFE_APPDIR.
foreach(dir_var KORVALINFE_BINDIR KORVALINFE_APPDIR)
    if(IS_ABSOLUTE "${${dir_var}}")
        set(${dir_var}_FULL "${${dir_var}}")
    else()
        set(${dir_var}_FULL "${CMAKE_INSTALL_PREFIX}/${${dir_var}}")
    endif()
endforeach()

set(program "${KORVALINFE_BINDIR_FULL}/KorvalinFE")
# A path of plain characters stands as it is; any other is quoted, with the
# characters that stay special inside quotes escaped, then every backslash
# doubled for the entry's string syntax and every % doubled for Exec.
if(NOT program MATCHES "^[A-Za-z0-9/._+-]+$")
    string(REGEX REPLACE "([\"`$\\\\])" "\\\\\\1" program "${program}")
    set(program "\"${program}\"")
    string(REPLACE "\\" "\\\\" program "${program}")
endif()
string(REPLACE "%" "%%" program "${program}")

file(READ "${KORVALINFE_DESKTOP_SOURCE}" entry)
# A plain replacement: a regex replacement would take the backslashes.
string(REGEX MATCH "\nExec=[^\n]*" exec_line "${entry}")
string(REPLACE "${exec_line}" "\nExec=${program}" entry "${entry}")
set(target "$ENV{DESTDIR}${KORVALINFE_APPDIR_FULL}/korvalinfe.desktop")
message(STATUS "Installing: ${target}")
file(WRITE "${target}" "${entry}")
