# The program's icon and desktop entry, and the install rules of KorvalinFE.
if(TARGET KorvalinFE)
    qt_add_resources(KorvalinFE korvalinfe_icon
        PREFIX "/korvalinfe"
        BASE ${CMAKE_CURRENT_SOURCE_DIR}/windows
        FILES ${CMAKE_CURRENT_SOURCE_DIR}/windows/korvalinfe.png)

    include(GNUInstallDirs)
    # Everything of the front end is in the component "frontend", which can be
    # installed on its own (cmake --install BUILD --component frontend).
    install(TARGETS KorvalinFE RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT frontend)
    install(CODE "
        set(KORVALINFE_DESKTOP_SOURCE \"${CMAKE_CURRENT_SOURCE_DIR}/windows/korvalinfe.desktop\")
        set(KORVALINFE_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
        set(KORVALINFE_APPDIR \"${CMAKE_INSTALL_DATADIR}/applications\")
        include(\"${CMAKE_CURRENT_SOURCE_DIR}/windows/install-desktop-entry.cmake\")"
        COMPONENT frontend)
    install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/windows/korvalinfe.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT frontend)
    install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/windows/korvalinfe.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/64x64/apps COMPONENT frontend)
endif()
